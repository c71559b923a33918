// The Lua class "SLB.im.OnChange": the real-time change object and the
// registry through which the agent's engine finds it (Keys::kOnChangeEngine,
// a light userdata in the agent's state store).
//
// As in im-plugin.cpp, every Lua argument check comes before any C++ object
// with a destructor: Lua raises errors with longjmp.
#include <stdio.h>

#include <exception>

#include "core/Dom.h"
#include "plugins/im/StateKeys.h"
#include "plugins/im/SystemIntegrityOnChangeThread.h"
#include "plugins/im/im-plugin.h"
#include "slb/Class.h"
#include "slb/Object.h"

namespace KvoPluginIm {

namespace {

const char* const kOnChangeClass = "SLB.im.OnChange";
const char* const kDomClass = "SLB.Dom";

KvoCore::CDom* TestDom(lua_State* L, int idx) {
    return static_cast<KvoCore::CDom*>(SLB::TestObject(L, idx, kDomClass, false));
}

CSystemIntegrityOnChangeThread* TestOnChange(lua_State* L, int idx) {
    return static_cast<CSystemIntegrityOnChangeThread*>(SLB::TestObject(L, idx, kOnChangeClass, false));
}

CSystemIntegrityOnChangeThread* Self(lua_State* L) {
    return static_cast<CSystemIntegrityOnChangeThread*>(SLB::CheckSelf(L, kOnChangeClass));
}

CSystemIntegrityOnChangeThread* RegisteredEngine(const KvoCore::CDom& dom) {
    void* engine = nullptr;
    return dom.Get(Keys::kOnChangeEngine, engine) ? static_cast<CSystemIntegrityOnChangeThread*>(engine) : nullptr;
}

int NewOnChange(lua_State* L) {
    auto* dom = static_cast<KvoCore::CDom*>(SLB::CheckNonConstObject(L, 1, kDomClass));
    const int settleTimeMs = static_cast<int>(luaL_checkinteger(L, 2));
    const int maxDelayMs = static_cast<int>(luaL_checkinteger(L, 3));
    char reason[512] = "";
    try {
        SLB::NewObject<CSystemIntegrityOnChangeThread>(L, kOnChangeClass, *dom, settleTimeMs, maxDelayMs);
    } catch (const std::exception& e) {
        snprintf(reason, sizeof reason, "%s", e.what());
    }
    if (reason[0] != '\0') return luaL_error(L, "%s", reason);
    return 1;
}

int Open(lua_State* L) {
    Self(L)->Open();
    return 0;
}

int Update(lua_State* L) {
    CSystemIntegrityOnChangeThread* self = Self(L);
    lua_pushinteger(L, static_cast<lua_Integer>(self->Update()));
    return 1;
}

int Close(lua_State* L) {
    Self(L)->Close();
    return 0;
}

int GetDirList(lua_State* L) { return Self(L)->GetDirList(L); }

int Change(lua_State* L) {
    IncMetric("realtimeEventReceived", 1);
    if (KvoCore::CDom* dom = TestDom(L, 1)) {
        CSystemIntegrityOnChangeThread* engine = RegisteredEngine(*dom);
        if (engine != nullptr) return engine->Change(L);
        IncMetric("realtimeEventDroppedNoOnc", 1);
        lua_pushboolean(L, 0);
        return 1;
    }
    if (CSystemIntegrityOnChangeThread* self = TestOnChange(L, 1)) return self->Change(L);
    IncMetric("realtimeEventDroppedNoOnc", 1);
    return luaL_argerror(L, 1, "kvo.im.OnChange expected");
}

int CheckOnChange(lua_State* L) {
    KvoCore::CDom* dom = TestDom(L, 1);
    if (dom == nullptr) return luaL_argerror(L, 1, "kvo.Dom object expected");
    lua_pushboolean(L, RegisteredEngine(*dom) != nullptr);
    return 1;
}

int Register(lua_State* L) {
    CSystemIntegrityOnChangeThread* self = TestOnChange(L, 1);
    if (self == nullptr) return luaL_argerror(L, 1, "kvo.im.OnChange expected");
    KvoCore::CDom* dom = TestDom(L, 2);
    if (dom == nullptr) return luaL_argerror(L, 2, "kvo.Dom object expected");
    dom->SetPointer(Keys::kOnChangeEngine, self);
    return 0;
}

}  // namespace

void RegisterOnChangeClass(lua_State* L) {
    SLB::Class onChange(L, kOnChangeClass);
    if (onChange.Existed()) return;
    onChange.Constructor(NewOnChange)
        .Method("Open", Open)
        .Method("Update", Update)
        .Static("Change", Change)
        .Static("CheckOnChange", CheckOnChange)
        .Method("GetDirList", GetDirList)
        .Static("Register", Register)
        .Method("Close", Close);
}

}  // namespace KvoPluginIm
