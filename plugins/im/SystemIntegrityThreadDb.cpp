// CSystemIntegrityThread: the control connection to si.db.
#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlIntegrityRule.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

bool CSystemIntegrityThread::OpenSystemIntegrityDb() {
    if (!m_db) m_db.reset(new KvoCore::CSqliteDatabase(m_dom, s_Trace));
    if (!m_db->IsOpenDb()) {
        if (!m_db->OpenIntegrityDb(m_dom.GetWxString(Keys::kDbPath), KvoCore::DbAccess::ReadWrite)) return false;
    }
    if (m_rulesWithoutEntities) return true;
    try {
        PrepareStatements();
    } catch (const wxSQLite3Exception& e) {
        // A file without the integrity tables cannot serve the control thread at all.
        KvoCore::LogError(wxString::Format("Cannot prepare the statements of the integrity database %s: %s",
                                           m_db->GetPath(), e.GetMessage()));
        CloseSystemIntegrityDb();
        return false;
    }
    return true;
}

void CSystemIntegrityThread::PrepareStatements() {
    const CSqlIntegrityRule rule;
    const CSqlEntity entity;
    const wxString sql = wxString::Format(
        "SELECT [%1$s],[%2$s] FROM (SELECT * FROM [%3$s] NATURAL LEFT JOIN [%4$s] WHERE [%5$s] IS NULL) "
        "WHERE [%6$s] IS NULL;",
        rule.GetKeyAttribute()->name.Text(), rule.GetAttributeName(&rule.GetName()),
        CSqlIntegrityRule::ElementName() + "s",
        CSqlEntity::ElementName() + "s", entity.GetAttributeName(&entity.m_supercededBy),
        entity.GetAttributeName(&entity.m_entityId));
    m_rulesWithoutEntities.reset(new wxSQLite3Statement(m_db->PrepareStatement(sql)));
}

void CSystemIntegrityThread::CloseSystemIntegrityDb() {
    if (!m_db) return;
    m_rulesWithoutEntities.reset();
    m_db->Close();
    m_db.reset();
}

}  // namespace KvoPluginIm
