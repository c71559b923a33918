// The Lua module "im": the namespace "SLB.im", its enumerations, and the class
// "SLB.im.ImThread" with the statistics and missed-change functions (the class
// "SLB.im.OnChange" is in im-pluginOnChange.cpp).
//
// Lua raises errors with longjmp, which skips C++ destructors: every argument
// check of a wrapper comes before any C++ object with a destructor is made.
#include "plugins/im/im-plugin.h"

#include <dlfcn.h>
#include <stdio.h>
#include <sys/stat.h>

#include <exception>
#include <memory>

#include <wx/strconv.h>
#include <wx/thread.h>

#include "core/Log.h"
#include "plugins/im/DecryptDatabase.h"
#include "plugins/im/ImScanStatus.h"  // Queries
#include "plugins/im/SystemIntegrityThread.h"
#include "slb/Class.h"
#include "slb/Enum.h"
#include "slb/Namespace.h"
#include "slb/Object.h"

namespace KvoPluginIm {

namespace {

const char* const kThreadClass = "SLB.im.ImThread";

bool SameFile(const char* a, const char* b) {
    struct stat sa, sb;
    return ::stat(a, &sa) == 0 && ::stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Scanner and real-time threads of the plug-in outlive the Lua state that
// loaded it, and Lua unloads the module when that state closes. A second
// reference of our own, never released, keeps the code mapped until the
// process ends. The module is found through package.cpath rather than the
// loader's search path, so it is opened again by the path it was loaded from.
bool KeepLibraryLoaded() {
    Dl_info info;
    if (dladdr(reinterpret_cast<const void*>(&kThreadClass), &info) == 0 || info.dli_fname == nullptr) return false;
    // Linked into a program (kvo-rules, the unit tests): nothing can unload it.
    if (SameFile(info.dli_fname, "/proc/self/exe")) return true;
    if (dlopen(info.dli_fname, RTLD_NOW) != nullptr) return true;
    const char* reason = dlerror();
    KvoCore::LogWarning(wxString::Format("The integrity plug-in cannot hold itself loaded: %s",
                                         reason ? reason : "unknown reason"));
    return false;
}

[[maybe_unused]] const bool s_libraryKeptLoaded = KeepLibraryLoaded();

// Serialises the callers of "GetStatus" for the whole call.
wxMutex s_statusLock(wxMUTEX_RECURSIVE);

// The agent runs in the C locale, so the multibyte form of its strings is
// UTF-8; bytes that are not UTF-8 (file names) pass through unchanged.
wxString FromLua(const char* text, size_t length) {
    return wxString(text, wxMBConvUTF8(wxMBConvUTF8::MAP_INVALID_UTF8_TO_PUA), length);
}

void PushString(lua_State* L, const wxString& text) {
    const wxScopedCharBuffer bytes = text.mb_str(wxMBConvUTF8(wxMBConvUTF8::MAP_INVALID_UTF8_TO_PUA));
    lua_pushlstring(L, bytes.data(), bytes.length());
}

int CheckInt32(lua_State* L, int idx) { return static_cast<int>(luaL_checkinteger(L, idx)); }

int NewImThread(lua_State* L) {
    char reason[512] = "";
    try {
        SLB::NewObject<CSystemIntegrityThread>(L, kThreadClass);
    } catch (const std::exception& e) {
        snprintf(reason, sizeof reason, "%s", e.what());
    }
    if (reason[0] != '\0') return luaL_error(L, "%s", reason);
    return 1;
}

// Control loop and scan orchestration

// Runs a member on the object of argument 1 (which may block for the agent's
// whole life); an exception becomes a Lua error once the C++ frames are gone.
int CallThreadMember(lua_State* L, void (CSystemIntegrityThread::*member)()) {
    auto* thread = static_cast<CSystemIntegrityThread*>(SLB::CheckSelf(L, kThreadClass));
    char reason[512] = "";
    try {
        (thread->*member)();
    } catch (const std::exception& e) {
        snprintf(reason, sizeof reason, "%s", e.what());
    }
    if (reason[0] != '\0') return luaL_error(L, "%s", reason);
    return 0;
}

int Main(lua_State* L) { return CallThreadMember(L, &CSystemIntegrityThread::main); }

int HandleVmotionStartup(lua_State* L) { return CallThreadMember(L, &CSystemIntegrityThread::HandleVmotionStartup); }

template <typename Map>
void PushCounts(lua_State* L, const Map& counts) {
    lua_createtable(L, 0, static_cast<int>(counts.size()));
    for (const auto& item : counts) {
        PushString(L, item.first);
        lua_pushinteger(L, item.second);
        lua_rawset(L, -3);
    }
}

void PushRuleCounts(lua_State* L) {
    const std::map<int, int> counts = GetActiveRuleStats();
    lua_createtable(L, 0, static_cast<int>(counts.size()));
    for (const auto& item : counts) {
        lua_pushinteger(L, item.first);
        lua_pushinteger(L, item.second);
        lua_rawset(L, -3);
    }
}

int GetStats(lua_State* L) {
    PushRuleCounts(L);
    PushCounts(L, GetInactiveRuleStats());
    MetricMap metrics;
    EntityAttributeMetricMap attributeMetrics;
    GetMetrics(metrics, attributeMetrics);
    PushCounts(L, metrics);
    lua_createtable(L, 0, static_cast<int>(attributeMetrics.size()));
    for (const auto& type : attributeMetrics) {
        PushString(L, type.first);
        PushCounts(L, type.second);
        lua_rawset(L, -3);
    }
    return 4;
}

int GetRuleIdAndName(lua_State* L) {
    const std::map<int, wxString> names = GetRuleIDandNames();
    lua_createtable(L, 0, static_cast<int>(names.size()));
    for (const auto& item : names) {
        lua_pushinteger(L, item.first);
        PushString(L, item.second);
        lua_rawset(L, -3);
    }
    return 1;
}

int LuaAddRTIMMiss(lua_State* L) {
    size_t length = 0;
    const char* path = luaL_checklstring(L, 1, &length);
    const int kind = static_cast<int>(luaL_optinteger(L, 2, 2));
    AddRTIMMiss(FromLua(path, length), kind);
    return 0;
}

int LuaClearRTIMMisses(lua_State*) {
    ClearRTIMMisses();
    return 0;
}

int GetRTIMMissStats(lua_State* L) {
    const RTIMMissMap misses = GetRTIMMisses();
    lua_createtable(L, 0, static_cast<int>(misses.size()));
    for (const auto& item : misses) {
        const RTIM_Miss_Entry& entry = item.second;
        PushString(L, item.first);
        lua_createtable(L, 0, static_cast<int>(entry.names.size()) + 4);
        lua_pushinteger(L, entry.hitcount);
        lua_setfield(L, -2, "hitcount");
        lua_pushinteger(L, entry.dropped);
        lua_setfield(L, -2, "dropped");
        PushString(L, entry.path);
        lua_setfield(L, -2, "path");
        lua_pushinteger(L, entry.lasttime);
        lua_setfield(L, -2, "lasttime");
        for (const auto& name : entry.names) {
            PushString(L, name.first);
            lua_pushinteger(L, name.second);
            lua_rawset(L, -3);
        }
        lua_rawset(L, -3);
    }
    return 1;
}

int IncEntitiesTotalCount(lua_State*) {
    CSystemIntegrityThread::IncEntitiesTotalCount();
    return 0;
}

int LuaInitializeEntityCounts(lua_State*) {
    InitializeEntityCounts();
    return 0;
}

int LuaInitializeAttributeCounts(lua_State*) {
    InitializeAttributeCounts();
    return 0;
}

int IncEntitiesDeletedCount(lua_State* L) {
    CSystemIntegrityThread::IncEntitiesDeletedCount(CheckInt32(L, 1));
    return 0;
}

int IncEntitiesSentToTzmCount(lua_State* L) {
    const int n = CheckInt32(L, 1);
    IncMetric("entitiesSentToTzm", n);
    return 0;
}

int IncEntitiesSupercededCount(lua_State*) {
    CSystemIntegrityThread::IncEntitiesSupercededCount();
    return 0;
}

int IncMarkersCreatedCount(lua_State*) {
    CSystemIntegrityThread::IncMarkersCreatedCount();
    return 0;
}

int IncMarkersDeletedCount(lua_State* L) {
    CSystemIntegrityThread::IncMarkersDeletedCount(CheckInt32(L, 1));
    return 0;
}

int IncIncompleteDeletedCount(lua_State* L) {
    CSystemIntegrityThread::IncIncompleteDeletedCount(CheckInt32(L, 1));
    return 0;
}

int SetInitialCount(lua_State* L) {
    const int n = CheckInt32(L, 1);
    SetMetric("entitiesInTable", n);
    return 0;
}

int LuaGetRTIMExclusions(lua_State* L) {
    PushString(L, GetRTIMExclusions());
    return 1;
}

int LuaIncEntityAttributeMetric(lua_State* L) {
    size_t typeLength = 0, attributeLength = 0;
    const char* entityType = luaL_checklstring(L, 1, &typeLength);
    const char* attribute = luaL_checklstring(L, 2, &attributeLength);
    IncEntityAttributeMetric(FromLua(entityType, typeLength), FromLua(attribute, attributeLength));
    return 0;
}

// Queries

const char* const kDomClass = "SLB.Dom";

// Argument 1 of every query: the agent object, non-const.
KvoCore::CDom& CheckDom(lua_State* L) {
    void* dom = SLB::TestObject(L, 1, kDomClass, false);
    if (dom == nullptr) luaL_argerror(L, 1, "kvo.Dom object expected");
    return *static_cast<KvoCore::CDom*>(dom);
}

// Lua numbers are truncated toward zero.
long long CheckInt64(lua_State* L, int idx) { return static_cast<long long>(luaL_checknumber(L, idx)); }

// The table of a query result, or nil, the status and the message.
int PushQueryResult(lua_State* L, KvoCore::XMLObject* result, int status, const wxString& message) {
    if (result != nullptr) {
        const std::unique_ptr<KvoCore::XMLObject> owned(result);
        owned->MoveToLua(L);
        return 1;
    }
    lua_pushnil(L);
    lua_pushinteger(L, status);
    PushString(L, message);
    return 3;
}

int CallGetEntities(lua_State* L, KvoCore::CDom& dom, long long lastId, int maxCount) {
    int status = 0;
    wxString message;
    KvoCore::XMLObject* result = CSystemIntegrityThread::GetEntities(dom, lastId, maxCount, status, message);
    return PushQueryResult(L, result, status, message);
}

int GetEntities(lua_State* L) {
    KvoCore::CDom& dom = CheckDom(L);
    const long long lastId = CheckInt64(L, 2);
    const int maxCount = CheckInt32(L, 3);
    return CallGetEntities(L, dom, lastId, maxCount);
}

struct EventQuery {
    long long lastEventId, maxEntityId, recordedFrom, recordedTo;
    int limit;
};

int CallGetEvents(lua_State* L, KvoCore::CDom& dom, const EventQuery& q) {
    int status = 0;
    wxString message;
    KvoCore::XMLObject* result = CSystemIntegrityThread::GetEvents(dom, q.lastEventId, q.maxEntityId, q.recordedFrom,
                                                                   q.recordedTo, q.limit, status, message);
    return PushQueryResult(L, result, status, message);
}

int GetEvents(lua_State* L) {
    KvoCore::CDom& dom = CheckDom(L);
    EventQuery q;
    q.lastEventId = CheckInt64(L, 2);
    q.maxEntityId = CheckInt64(L, 3);
    // The window bounds are narrowed to 32 bits like every Lua integer of the module.
    q.recordedFrom = CheckInt32(L, 4);
    q.recordedTo = CheckInt32(L, 5);
    q.limit = CheckInt32(L, 6);
    return CallGetEvents(L, dom, q);
}

int CallGetStatus(lua_State* L, KvoCore::CDom& dom) {
    wxMutexLocker lock(s_statusLock);
    std::unique_ptr<KvoCore::XMLObject> result(CSystemIntegrityThread::GetStatus(dom));
    const CImScanStatus* status = dynamic_cast<const CImScanStatus*>(result.get());
    if (status == nullptr) {
        KvoCore::LogError("im-plugin::GetStatus - CSystemIntegrity::GetStatus returned an invalid object reference");
        lua_pushnil(L);
        return 1;
    }
    KVO_TRACE(CSystemIntegrityThread::s_Trace, "im-plugin::GetStatus returned %s", status->toString(1));
    status->toLua(L);
    return 1;
}

// The argument is checked before the lock is taken: a Lua error must not leave it held.
int GetStatus(lua_State* L) { return CallGetStatus(L, CheckDom(L)); }

int CallDumpBaseline(lua_State* L, KvoCore::CDom& dom) {
    wxString message;
    const int written = CSystemIntegrityThread::DumpBaseline(dom, message);
    lua_pushinteger(L, written);
    if (written != 0) return 1;
    PushString(L, message);
    return 2;
}

int DumpBaseline(lua_State* L) { return CallDumpBaseline(L, CheckDom(L)); }

int CallDecryptDatabase(lua_State* L, KvoCore::CDom& dom, const wxString& keyText, const wxString& source,
                        const wxString& target) {
    wxString count;
    if (!DecryptDatabase(dom, keyText, source, target, count)) {
        lua_pushinteger(L, -1);
        return 1;
    }
    lua_pushinteger(L, 0);
    PushString(L, count);
    return 2;
}

wxString CheckWideString(lua_State* L, int idx) {
    size_t length = 0;
    const char* text = luaL_checklstring(L, idx, &length);
    return FromLua(text, length);
}

// Every argument is checked before any C++ object is made (see the top).
int DecryptDatabase_l(lua_State* L) {
    KvoCore::CDom& dom = CheckDom(L);
    luaL_checkstring(L, 2);
    luaL_checkstring(L, 3);
    luaL_checkstring(L, 4);
    return CallDecryptDatabase(L, dom, CheckWideString(L, 2), CheckWideString(L, 3), CheckWideString(L, 4));
}

void RegisterEnumerations(lua_State* L) {
    SLB::Enum(L, "SLB.im.ScanStatus", "CScanStatus::_ScanStatus",
              {{"Queued", 0}, {"InProgress", 1}, {"Paused", 2}, {"Cancelling", 3}, {"Idle", 4}, {"NotSupported", 5}});
    SLB::Enum(L, "SLB.im.ImScanType", "KvoPluginIm::CImScanStatus::ImScanType",
              {{"ImIdle", 0}, {"ImBaseline", 1}, {"ImIncremental", 2}, {"ImRealtime", 3}, {"ImPseudoRealtime", 4}});
    lua_pushcfunction(L, DecryptDatabase_l);
    SLB::SetAtPath(L, "SLB.im.DecryptDatabase_l");
}

// Members are registered in their documented order: "main" and
// "HandleVmotionStartup" belong before "GetEntities".
void RegisterImThread(lua_State* L) {
    SLB::Class imThread(L, kThreadClass);
    if (imThread.Existed()) return;
    imThread.Constructor(NewImThread)
        .Method("main", Main)  // Control loop and scan orchestration
        .Method("HandleVmotionStartup", HandleVmotionStartup)
        .Static("GetEntities", GetEntities)  // Queries
        .Static("GetEvents", GetEvents)
        .Static("GetStatus", GetStatus)
        .StaticNoArgs("GetStats", GetStats)
        .StaticNoArgs("GetRuleIdAndName", GetRuleIdAndName)
        .Static("DumpBaseline", DumpBaseline)  // Queries
        .Static("AddRTIMMiss", LuaAddRTIMMiss)
        .StaticNoArgs("ClearRTIMMisses", LuaClearRTIMMisses)
        .StaticNoArgs("GetRTIMMissStats", GetRTIMMissStats)
        .StaticNoArgs("IncEntitiesTotalCount", IncEntitiesTotalCount)
        .StaticNoArgs("InitializeEntityCounts", LuaInitializeEntityCounts)
        .StaticNoArgs("InitializeAttributeCounts", LuaInitializeAttributeCounts)
        .Static("IncEntitiesDeletedCount", IncEntitiesDeletedCount)
        .Static("IncEntitiesSentToTzmCount", IncEntitiesSentToTzmCount)
        .StaticNoArgs("IncEntitiesSupercededCount", IncEntitiesSupercededCount)
        .StaticNoArgs("IncMarkersCreatedCount", IncMarkersCreatedCount)
        .Static("IncMarkersDeletedCount", IncMarkersDeletedCount)
        .Static("IncIncompleteDeletedCount", IncIncompleteDeletedCount)
        .Static("SetInitialCount", SetInitialCount)
        .StaticNoArgs("GetRTIMExclusions", LuaGetRTIMExclusions)
        .Static("IncEntityAttributeMetric", LuaIncEntityAttributeMetric);
}

}  // namespace

}  // namespace KvoPluginIm

extern "C" __attribute__((visibility("default"))) int luaopen_im(lua_State* L) {
    SLB::Open(L);
    KvoPluginIm::RegisterEnumerations(L);
    KvoPluginIm::RegisterImThread(L);
    KvoPluginIm::RegisterOnChangeClass(L);
    lua_pushboolean(L, 1);
    return 1;
}
