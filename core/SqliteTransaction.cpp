#include "core/SqliteTransaction.h"

#include "core/Log.h"
#include "core/SqliteDatabase.h"

namespace KvoCore {

CSqliteTransaction::CSqliteTransaction(CSqliteDatabase& db, wxSQLite3TransactionType type) : m_db(db) {
    m_db.Begin(type);
}

CSqliteTransaction::~CSqliteTransaction() {
    // SQLite has already undone a transaction that an error ended (or the
    // connection is gone): there is nothing left to roll back.
    if (m_committed || !m_db.IsOpenDb() || m_db.GetAutoCommit()) return;
    try {
        m_db.Rollback();
    } catch (const wxSQLite3Exception& e) {
        LogError(wxString::Format("Database '%s': rollback failed: %s", m_db.GetPath(), e.GetMessage()));
    }
}

void CSqliteTransaction::Commit() {
    m_db.Commit();
    m_committed = true;
}

}  // namespace KvoCore
