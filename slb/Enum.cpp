#include "slb/Enum.h"

#include <cstring>
#include <string>

#include "slb/Namespace.h"

namespace SLB {
namespace {

const char* const kEnumTypeField = "__enum";

// Shared by every enumeration type, so Lua also calls it for values of two
// different types; those never compare equal.
int Equal(lua_State* L) {
    long long a = 0, b = 0;
    bool same = false;
    if (TestAnyEnumValue(L, 1, a) && TestAnyEnumValue(L, 2, b) && a == b) {
        lua_getmetatable(L, 1);
        lua_getmetatable(L, 2);
        same = lua_rawequal(L, -1, -2) != 0;
        lua_pop(L, 2);
    }
    lua_pushboolean(L, same);
    return 1;
}

int ToString(lua_State* L) {
    long long value = 0;
    TestAnyEnumValue(L, 1, value);
    lua_pushfstring(L, "%s", std::to_string(value).c_str());
    return 1;
}

void RegisterType(lua_State* L, const char* typeName) {
    if (luaL_newmetatable(L, typeName)) {
        lua_pushstring(L, typeName);
        lua_setfield(L, -2, kEnumTypeField);
        lua_pushcfunction(L, Equal);
        lua_setfield(L, -2, "__eq");
        lua_pushcfunction(L, ToString);
        lua_setfield(L, -2, "__tostring");
    }
    lua_pop(L, 1);
}

}  // namespace

void Enum(lua_State* L, const char* fullName, const char* typeName,
          std::initializer_list<std::pair<const char*, long long>> values) {
    RegisterType(L, typeName);
    lua_newtable(L);
    for (const auto& value : values) {
        PushEnumValue(L, typeName, value.second);
        lua_setfield(L, -2, value.first);
    }
    SetAtPath(L, fullName);
}

void PushEnumValue(lua_State* L, const char* typeName, long long value) {
    static_assert(sizeof(long long) == 8, "enumeration values are 8 bytes");
    auto* slot = static_cast<long long*>(lua_newuserdata(L, sizeof(long long)));
    *slot = value;
    luaL_getmetatable(L, typeName);
    lua_setmetatable(L, -2);
}

bool TestEnumValue(lua_State* L, int idx, const char* typeName, long long& value) {
    auto* slot = static_cast<long long*>(luaL_testudata(L, idx, typeName));
    if (!slot) return false;
    value = *slot;
    return true;
}

bool TestAnyEnumValue(lua_State* L, int idx, long long& value) {
    if (lua_type(L, idx) != LUA_TUSERDATA || !lua_getmetatable(L, idx)) return false;
    lua_getfield(L, -1, kEnumTypeField);
    bool isEnum = lua_isstring(L, -1) != 0;
    lua_pop(L, 2);
    if (!isEnum || lua_rawlen(L, idx) != sizeof(long long)) return false;
    value = *static_cast<long long*>(lua_touserdata(L, idx));
    return true;
}

}  // namespace SLB
