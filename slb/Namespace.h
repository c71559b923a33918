// Namespaces of the binder: nested global tables such as "SLB.im".
#pragma once

#include <lua.hpp>

namespace SLB {

// Pushes the table at a dotted path below the globals, creating what is missing.
void PushNamespace(lua_State* L, const char* path);
// Stores the value on top of the stack at a dotted path ("SLB.im.ScanStatus") and pops it.
void SetAtPath(lua_State* L, const char* path);
// Opens the binder in a Lua state: the global table "SLB" with SLB.tonumber.
// Safe to call more than once.
void Open(lua_State* L);

}  // namespace SLB
