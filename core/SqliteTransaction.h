// CSqliteTransaction: one write transaction on a CSqliteDatabase, rolled back
// when it goes out of scope uncommitted, so that an exception or an early
// return never leaves half a batch pending on the connection (the next commit
// on it would write that half). Begun as CSqliteDatabase::Begin() begins
// (IMMEDIATE, DEFERRED on a read-only connection) unless told otherwise: a
// transaction that writes only a private attached database needs no lock on
// the shared file until it touches it.
#pragma once

#include <wx/wxsqlite3.h>

namespace KvoCore {

class CSqliteDatabase;

class CSqliteTransaction {
public:
    // Throws wxSQLite3Exception when the transaction cannot begin.
    explicit CSqliteTransaction(CSqliteDatabase& db,
                                wxSQLite3TransactionType type = WXSQLITE_TRANSACTION_IMMEDIATE);
    // Rolls back unless committed; a failed rollback is logged, never thrown.
    ~CSqliteTransaction();
    CSqliteTransaction(const CSqliteTransaction&) = delete;
    CSqliteTransaction& operator=(const CSqliteTransaction&) = delete;

    // Throws wxSQLite3Exception; a failed commit leaves the transaction to the
    // destructor, which undoes it.
    void Commit();

private:
    CSqliteDatabase& m_db;
    bool m_committed = false;
};

}  // namespace KvoCore
