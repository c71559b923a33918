// CSystemIntegrityThread::GetNames: the rule-name table of the statistics,
// rebuilt from the stored rules after each rule change.
#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/im-plugin.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

void CSystemIntegrityThread::GetNames(KvoCore::CDom& dom) {
    ClearRuleIDandNameMap();
    KvoCore::CSqliteDatabase db(dom, s_Trace);
    if (!db.OpenIntegrityDb(dom.GetWxString(Keys::kDbPath), KvoCore::DbAccess::ReadWrite)) return;
    try {
        wxSQLite3ResultSet rows = db.ExecuteQuery(wxT("SELECT * FROM IntegrityRules;"));
        while (rows.NextRow()) {
            const wxString identifier = rows.GetString(wxT("identifier"));
            const wxString name = rows.GetString(wxT("name"));
            AddRuleIDandName(rows.GetInt(wxT("integrityRuleId")),
                             identifier.empty() ? name : identifier + wxT(" - ") + name);
        }
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("getNames() error accessing si.db: %s", e.GetMessage()));
    }
    db.Close();
}

}  // namespace KvoPluginIm
