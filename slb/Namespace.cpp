#include "slb/Namespace.h"

#include <string>

#include "slb/Enum.h"

namespace SLB {

void PushNamespace(lua_State* L, const char* path) {
    lua_pushglobaltable(L);
    std::string rest = path;
    while (!rest.empty()) {
        size_t dot = rest.find('.');
        std::string part = rest.substr(0, dot);
        rest = dot == std::string::npos ? std::string() : rest.substr(dot + 1);
        lua_getfield(L, -1, part.c_str());
        if (!lua_istable(L, -1)) {
            lua_pop(L, 1);
            lua_newtable(L);
            lua_pushvalue(L, -1);
            lua_setfield(L, -3, part.c_str());
        }
        lua_remove(L, -2);
    }
}

void SetAtPath(lua_State* L, const char* path) {
    std::string full = path;
    size_t dot = full.rfind('.');
    if (dot == std::string::npos) {
        lua_setglobal(L, path);
        return;
    }
    PushNamespace(L, full.substr(0, dot).c_str());
    lua_insert(L, -2);
    lua_setfield(L, -2, full.substr(dot + 1).c_str());
    lua_pop(L, 1);
}

namespace {

// SLB.tonumber(value): the number of an enumeration value, a number as it is, else nil.
int ToNumber(lua_State* L) {
    long long value = 0;
    if (lua_type(L, 1) == LUA_TNUMBER) {
        lua_pushvalue(L, 1);
    } else if (TestAnyEnumValue(L, 1, value)) {
        lua_pushnumber(L, static_cast<lua_Number>(value));
    } else {
        lua_pushnil(L);
    }
    return 1;
}

}  // namespace

void Open(lua_State* L) {
    PushNamespace(L, "SLB");
    lua_pushcfunction(L, ToNumber);
    lua_setfield(L, -2, "tonumber");
    lua_pop(L, 1);
}

}  // namespace SLB
