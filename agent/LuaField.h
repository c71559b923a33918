// Fields of a Lua table, read the forgiving way a report needs: a field that
// is missing or of another kind reads as 0 or an empty text.
#pragma once

#include <lua.hpp>
#include <wx/string.h>

namespace KvoAgent {

long long LuaNumberField(lua_State* L, int index, const char* field);
// Strings arrive as UTF-8.
wxString LuaTextField(lua_State* L, int index, const char* field);

}  // namespace KvoAgent
