#include "agent/LuaField.h"

namespace KvoAgent {

long long LuaNumberField(lua_State* L, int index, const char* field) {
    lua_getfield(L, index, field);
    const long long value = lua_isnumber(L, -1) ? static_cast<long long>(lua_tonumber(L, -1)) : 0;
    lua_pop(L, 1);
    return value;
}

wxString LuaTextField(lua_State* L, int index, const char* field) {
    lua_getfield(L, index, field);
    size_t length = 0;
    const char* text = lua_type(L, -1) == LUA_TSTRING ? lua_tolstring(L, -1, &length) : nullptr;
    const wxString value = text ? wxString::FromUTF8(text, length) : wxString();
    lua_pop(L, 1);
    return value;
}

}  // namespace KvoAgent
