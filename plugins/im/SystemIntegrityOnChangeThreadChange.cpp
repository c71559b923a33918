// Notifications: which changes concern an on-change set, and how like
// changes of one key are coalesced in the cache.
//
// Change runs every Lua check before any C++ object with a destructor is
// made: a Lua error unwinds with longjmp.
#include <wx/filename.h>
#include <wx/strconv.h>
#include <wx/wxsqlite3.h>

#include "core/Dom.h"
#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/SqliteTransaction.h"
#include "plugins/im/StateKeys.h"
#include "plugins/im/SystemIntegrityOnChangeThread.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/im-plugin.h"

namespace KvoPluginIm {

namespace {

const char* const kOperations[] = {"nil", "create", "update", "delete", "rename", nullptr};
const wxChar* const kOldName = wxT("~oldName");

// The notification's fields, still on the Lua stack (the texts live there).
struct Notification {
    int change;
    long long time;
    const char* text[5];  // realpath, procUser, processName, pid, oldname
    size_t length[5];
};
const char* const kTextFields[] = {"realpath", "procUser", "processName", "pid", "oldname"};

wxString FromUtf8(const char* text, size_t length) {
    if (text == nullptr) return wxString();
    return wxString(text, wxMBConvUTF8(wxMBConvUTF8::MAP_INVALID_UTF8_TO_PUA), length);
}

}  // namespace

int CSystemIntegrityOnChangeThread::Change(lua_State* L) {
    luaL_argcheck(L, lua_istable(L, 2), 2, "Expected event");
    Notification n;
    lua_getfield(L, 2, "operationType");
    n.change = luaL_checkoption(L, lua_gettop(L), "nil", kOperations);
    lua_getfield(L, 2, "time");
    n.time = static_cast<long long>(lua_tonumber(L, -1));
    for (int i = 0; i < 5; ++i) {
        lua_getfield(L, 2, kTextFields[i]);
        n.length[i] = 0;
        n.text[i] = lua_type(L, -1) == LUA_TSTRING ? lua_tolstring(L, -1, &n.length[i]) : nullptr;
    }
    const wxPathFormat format = CIntegrityScanThread::GetPathFormat(m_dom);
    {
        wxFileName path(FromUtf8(n.text[0], n.length[0]), format);
        path.Normalize(wxPATH_NORM_CASE, wxString(), format);
        KvoCore::CHostMetaData entity(path.HasName() ? "File" : "Directory", path.GetFullPath(format));
        const wxString oldName = FromUtf8(n.text[4], n.length[4]);
        if (!oldName.empty()) {
            wxFileName old(oldName, format);
            old.Normalize(wxPATH_NORM_CASE, wxString(), format);
            entity.AppendAttribute(kOldName, old.GetFullPath(format));
        }
        KVO_TRACE(s_Trace, "Change %s for %s", entity.GetType(), entity.GetKey());
        const wxString processName = FromUtf8(n.text[2], n.length[2]);
        const wxString pid = FromUtf8(n.text[3], n.length[3]);
        OnEntityChanged(entity, n.change, n.time, FromUtf8(n.text[1], n.length[1]), processName.wc_str(),
                        pid.wc_str());
    }
    lua_pushboolean(L, 1);
    return 1;
}

bool CSystemIntegrityOnChangeThread::OnEntityChanged(const KvoCore::CHostMetaData& entity, int change,
                                                     long long time, const wxString& user, const wxChar* processName,
                                                     const wxChar* pid) {
    KVO_TRACE(s_Trace, "OnEntityChange for %s", entity.GetKey());
    wxMutexLocker lock(m_mutex);
    if (!m_db) {
        CountMetric("realtimeEventDroppedDbNoInit");
        KVO_TRACE(s_Trace, "skipping OnEntityChange for %s, db not initiazed", entity.GetKey());
        return false;
    }
    if (time == 0) time = KvoCore::TimeNowMillis();
    const wxString name = processName ? wxString(processName) : wxString();
    const wxString id = pid ? wxString(pid) : wxString();
    if (m_trace) LogChange(entity, change, user, name, id);
    bool recorded = false;
    try {
        // Deferred: a notification writes only the cache, never si.db.
        KvoCore::CSqliteTransaction transaction(*m_db, WXSQLITE_TRANSACTION_DEFERRED);
        recorded = OnEntityChangedInternal(entity, change, time, user, name, id);
        wxString oldName;
        if (!recorded && change == kRename && entity.GetAttribute(kOldName, oldName) && !oldName.empty()) {
            // Renamed out of every set: for those sets the old key is gone.
            const KvoCore::CHostMetaData old(entity.GetType(), oldName);
            recorded = OnEntityChangedInternal(old, kDelete, time, user, name, id);
        }
        transaction.Commit();
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("Error in OnEntityChanged: %s", e.GetMessage()));
        recorded = false;
    }
    return recorded;
}

void CSystemIntegrityOnChangeThread::LogChange(const KvoCore::CHostMetaData& entity, int change,
                                               const wxString& user, const wxString& processName,
                                               const wxString& pid) const {
    wxString text = wxString::Format("%s %s %s (%d)", entity.GetType(), entity.GetKey(), ChangeName(change), change);
    if (!processName.empty()) text << " by " << processName;
    if (!pid.empty()) text << " (" << pid << ")";
    if (!user.empty()) text << " by user " << user;
    KvoCore::LogTrace(s_Trace, __FILE__, __LINE__, __func__, wxString::Format("logMsg: %s", text));
}

bool CSystemIntegrityOnChangeThread::OnEntityChangedInternal(const KvoCore::CHostMetaData& entity, int change,
                                                             long long time, const wxString& user,
                                                             const wxString& processName, const wxString& pid) {
    wxString type = entity.GetType();
    const wxString& key = entity.GetKey();
    KVO_TRACE(s_Trace, "OnEntityChangedInternal %s %s", type, key);
    const bool isPath = type == "File" || type == "Directory";
    if (isPath && IsRememberedMiss(key)) {
        CountMetric("realtimeEventDroppedNotInRules");
        KVO_TRACE(s_Trace, "already cached as RTIMMiss %s %s", type, key);
        return false;
    }
    CacheRow row;
    bool cached = FindCacheRow(type, key, row);
    if (cached && !row.included) {
        CountMetric("realtimeEventDroppedNotInRules");
        KVO_TRACE(s_Trace, "%s %s is cached as not included by any rules", type, key);
        return false;
    }
    if (!cached) {
        KvoCore::Int64Set ids;
        int reason = -1;
        const wxString includedAs = IncludingType(entity, ids, reason);
        if (includedAs.empty()) {
            CountMetric("realtimeEventDroppedNotInRules");
            RememberNotIncluded(type, key, reason);
            return false;
        }
        KVO_TRACE(s_Trace, "%s %s entityInfo was included in entitySetIds", type, key);
        // The sets are of the type that included the key; the row must name
        // that type, or the scanner would look the ids up among other sets.
        type = includedAs;
        cached = FindCacheRow(type, key, row);
        if (!cached) row.id = InsertCacheRow(type, key, KvoCore::toList(ids, ',', true));
    }
    wxString process = processName;
    if (!pid.empty()) {
        if (!process.empty()) process << m_separator;
        process << pid;
    }
    wxString oldKey;
    if (change == kRename) entity.GetAttribute(kOldName, oldKey);
    if (!cached || !ExtendDetail(row.id, change, time, oldKey, user, process)) {
        InsertDetail(row.id, change, time, oldKey, user, process);
        if (!cached) CountMetric("realtimeEventAdded2Cache");
    }
    KVO_TRACE(s_Trace, "%s %s recordThisChange %d", type, key, 1);
    return true;
}

wxString CSystemIntegrityOnChangeThread::IncludingType(const KvoCore::CHostMetaData& entity, KvoCore::Int64Set& ids,
                                                       int& reason) const {
    const wxString& type = entity.GetType();
    if (IsIncluded(entity, ids, reason)) return type;
    const wxString& key = entity.GetKey();
    if (type == "Directory" && !IsOurFile(key) && IsIncluded("File", key, ids, reason)) {
        KVO_TRACE(s_Trace, "%s %s included as File", type, key);
        return "File";
    }
    if (type == "RegistryKey" && IsIncluded("RegistryValue", key, ids, reason)) {
        KVO_TRACE(s_Trace, "%s %s included as RegistryValue", type, key);
        return "RegistryValue";
    }
    return wxString();
}

void CSystemIntegrityOnChangeThread::RememberNotIncluded(const wxString& type, const wxString& key, int reason) {
    KVO_TRACE(s_Trace, "%s %s is not included by any rules - caching its status unmatched_reason %d", type, key,
              reason);
    // A miss without a name stands for its whole directory and everything
    // below it, where other keys may well be covered: a directory is kept as
    // its own cache row, and a file by its extension or else its name.
    if (type == "File") {
        const bool narrow = reason == 2 || reason == 3 || reason == 5 || reason == 6;
        if (AddRTIMMiss(key, narrow ? reason : 3)) m_dom.ConditionRaise(Keys::kRtimMissUpdated);
        return;
    }
    InsertCacheRow(type, key, wxString());
}

bool CSystemIntegrityOnChangeThread::IsRememberedMiss(const wxString& key) const { return CheckRTIMMiss(key); }

void CSystemIntegrityOnChangeThread::CountMetric(const char* name) { IncMetric(name, 1); }

}  // namespace KvoPluginIm
