// CFileIntegrityScanThread: handing a scan over to an external scanner (VM-safe
// guest mode), restarting an interrupted hand-over, and the attributes only
// an external scanner reports (flags) or that depend on earlier versions (size trend).
#include <lua.hpp>
#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/SqliteTransaction.h"
#include "core/StateKeys.h"
#include "plugins/im/SqlIntegrityEvent.h"
#include "plugins/im/SqlAttribute.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SystemIntegrityFileScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {
namespace {

const char kChunkName[] = "CFileIntegrityScanThread::OnMatchEntities()";

// The words of the set bits, in this order, joined by commas; other bits have none.
wxString FlagWords(unsigned long long flags) {
    static const struct {
        unsigned long long bit;
        const char* word;
    } kWords[] = {{0x1, "Readonly"},  {0x2, "Hidden"},     {0x4, "System"},          {0x10, "Directory"},
                  {0x20, "Archived"}, {0x40, "Device"},    {0x100, "Temporary"},     {0x200, "Sparse"},
                  {0x400, "ReparsePoint"}, {0x800, "Compressed"}, {0x1000, "Offline"}, {0x2000, "NotIndexed"},
                  {0x4000, "Encrypted"}};
    wxString words;
    for (const auto& w : kWords)
        if (flags & w.bit) words << w.word << ",";
    if (!words.empty()) words.RemoveLast();
    return words;
}

}  // namespace

bool CFileIntegrityScanThread::OnMatchEntities() {
    bool vmsafeGuest = false, testExternal = false;
    Dom().Get(KvoCore::Keys::kModeVmsafeGuest, vmsafeGuest);
    Dom().Get(Keys::kTestExternalEntities, testExternal);
    if (!vmsafeGuest && !testExternal) return CDirectoryIntegrityScanThread::OnMatchEntities();
    if (vmsafeGuest && !AskExternalScanner()) return false;
    SetNextStep(StepProcessExternalEntities);
    m_externalEntities = true;
    return true;
}

bool CFileIntegrityScanThread::AskExternalScanner() {
    const wxString uuid = Dom().GetWxString(Keys::kUuid);
    const wxString chunk = wxString("require 'mirt'; return SLB.vanu.imscan_enqueue_") +
                           (GetScanType() == 0 ? "baseline" : "incremental") + "('" + uuid + "')";
    KVO_SCANNER_TRACE("IMSCAN: need to start for uuid '%s'", uuid);
    wxString error;
    if (!InitLua(GetThreadName() + ".lua", true)) {
        KvoCore::LogError(wxString::Format("%s: no Lua state for the external scanner", kChunkName));
        return false;
    }
    lua_State* L = this->L();
    const int top = lua_gettop(L);
    if (!Lua(std::string(chunk.utf8_str()), kChunkName, error)) {
        KvoCore::LogError(wxString::Format("%s: %s", kChunkName, error));
        return false;
    }
    const bool isNumber = lua_gettop(L) > top && lua_type(L, -1) == LUA_TNUMBER;
    const int result = isNumber ? static_cast<int>(lua_tointeger(L, -1)) : -1;
    lua_settop(L, top);
    if (!isNumber) {
        KvoCore::LogError(wxString::Format("Unexpected non number return from %s", chunk));
        return false;
    }
    KVO_SCANNER_TRACE("%s returns %d", chunk, result);
    return result == 0;
}

bool CFileIntegrityScanThread::OnProcessExternalEntities() {
    if (m_externalEntities) return CDirectoryIntegrityScanThread::OnProcessExternalEntities();
    return RestartHandOver();
}

bool CFileIntegrityScanThread::RestartHandOver() {
    KVO_SCANNER_TRACE("Scan was aborted - deleting previously recorded entities & events and restarting.");
    const CSqlEntity entity;
    const wxString entitys = CSqlEntity::ElementName() + "s";
    const wxString id = entity.GetAttributeName(&entity.m_entityId);
    const wxString type = entity.GetAttributeName(&entity.m_entityType);
    const wxString supercededBy = entity.GetAttributeName(&entity.m_supercededBy);
    const long long highest = GetHighestEntityIdAtStartOfScan();
    KvoCore::CSqliteTransaction transaction(Db());
    const int entities = Db().ExecuteUpdate(wxString::Format("DELETE FROM [%s] WHERE [%s] > %lld AND [%s] = '%s';",
                                                             entitys, id, highest, type, GetEntityType()));
    // Versions that a deleted row had superseded are current again (not yet
    // seen by this scan), or they would be lost; the changes are reported
    // again when the entities arrive again, and the events recorded for them
    // go with their rows.
    Db().ExecuteUpdate(wxString::Format(
        "UPDATE [%1$s] SET [%2$s] = %3$s WHERE [%4$s] = '%5$s' AND [%7$s] <= %6$lld AND [%2$s] > %6$lld;", entitys,
        supercededBy, GetScanType() == 0 ? "NULL" : "0", type, GetEntityType(), highest, id));
    const wxString events = CSqlIntegrityEvent::ElementName() + "s";
    int removed = 0;
    for (const char* column : {"wasEntity", "isEntity"})
        removed += Db().ExecuteUpdate(wxString::Format(
            "DELETE FROM [%1$s] WHERE [%2$s] NOT NULL AND NOT EXISTS (SELECT * FROM [%3$s] WHERE [%3$s].[%4$s] = "
            "[%1$s].[%2$s]);",
            events, column, entitys, id));
    SetNextStep(StepMatchEntities);
    transaction.Commit();
    CSystemIntegrityThread::IncEntitiesDeletedCount(entities);
    KVO_SCANNER_TRACE("Deleted %d entities and %d events. Restarting the scan.", entities, removed);
    return true;
}

bool CFileIntegrityScanThread::ProcessExternalEntityAttribute(const CSqlEntity& entity,
                                                              const KvoCore::Int64Set& entityIds,
                                                              const CSqlAttribute& attribute) {
    const wxString& name = attribute.m_name;
    if (name == "growing" || name == "shrinking") {
        long long size = 0;
        attribute.m_internalValue.ToLongLong(&size);
        m_size = size;
        m_previousSize = -1;
        if (GetScanType() != 0) LoadPreviousSize(entity.m_keyCanonical);
        const bool verdict = m_previousSize == -1 ||
                             (name == "growing" ? m_previousSize <= m_size : m_size <= m_previousSize);
        WriteTrend(name, verdict, entityIds);
        return true;
    }
    if (name.StartsWith("flags")) {
        unsigned long long flags = 0;
        attribute.m_value.ToULongLong(&flags);
        if (name == "flags") flags &= ~0xA0ULL;
        WriteAttribute(name, wxString::Format("%llu", flags), FlagWords(flags), entityIds, attribute.m_internalValue);
        return true;
    }
    return CDirectoryIntegrityScanThread::ProcessExternalEntityAttribute(entity, entityIds, attribute);
}

}  // namespace KvoPluginIm
