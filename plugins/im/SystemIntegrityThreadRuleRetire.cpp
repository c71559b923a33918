// CSystemIntegrityThread: retiring the entity versions of changed and removed
// rules. The rows stay, marked -1, until the entity queries have delivered and
// purged them; the events record which id ranges were retired.
#include <utility>
#include <vector>

#include <wx/wxsqlite3.h>

#include "core/SqliteDatabase.h"
#include "plugins/im/SqlIntegrityEvent.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {

namespace {

const wxChar* const kEntitys = wxT("Entitys");
const wxChar* const kEntityId = wxT("entityId");
const wxChar* const kSupercededBy = wxT("supercededBy");

const int kChangeRetired = 5;
const int kRetiredSeverity = 1;
const int kRetiredStatus = -1;

using IdRun = std::pair<long long, long long>;

std::vector<IdRun> RunsOfConsecutiveIds(KvoCore::CSqliteDatabase& db, const wxString& where) {
    std::vector<IdRun> runs;
    wxSQLite3ResultSet rows = db.ExecuteQuery(
        wxString::Format("SELECT [%1$s] FROM [%2$s] WHERE (%3$s) ORDER BY [%1$s];", kEntityId, kEntitys, where));
    while (rows.NextRow()) {
        const long long id = rows.GetInt64(0).GetValue();
        if (!runs.empty() && runs.back().second + 1 == id)
            runs.back().second = id;
        else
            runs.emplace_back(id, id);
    }
    return runs;
}

}  // namespace

int CSystemIntegrityThread::MarkExistingEntitiesAsDeprecated(KvoCore::CSqliteDatabase& db, const wxString& where) {
    const std::vector<IdRun> runs = RunsOfConsecutiveIds(db, where);
    CSqlIntegrityEvent event;
    wxSQLite3Statement insert = db.PrepareStatement(event.GetSQLInsertStatement());
    const KvoCore::XMLObject::Attribute* key = event.GetKeyAttribute();
    for (const IdRun& run : runs) {
        // A NULL key lets the database number each event.
        event.SetAttributeNull(key->member, true);
        event.SetChange(kChangeRetired);
        event.SetRecorded(KvoCore::TimeNowMillis());
        event.SetSeverity(kRetiredSeverity);
        event.SetStatus(kRetiredStatus);
        event.SetWasEntity(run.first);
        event.SetIsEntity(run.second);
        event.SQLInsert(db, insert);
    }
    return db.ExecuteUpdate(wxString::Format("UPDATE [%s] SET [%s]=-1 WHERE %s;", kEntitys, kSupercededBy, where));
}

}  // namespace KvoPluginIm
