// Enumerations of the binder. A value is an 8-byte userdata holding the
// number, with the metatable of its enumeration type (registry name = the type
// name); two values of one type compare equal when their numbers are equal, and
// SLB.tonumber(value) reads the number.
#pragma once

#include <initializer_list>
#include <utility>

#include <lua.hpp>

namespace SLB {

// Registers the enumeration type (once) and stores at fullName a table holding
// one value per enumerator.
void Enum(lua_State* L, const char* fullName, const char* typeName,
          std::initializer_list<std::pair<const char*, long long>> values);
void PushEnumValue(lua_State* L, const char* typeName, long long value);
// True when idx holds a value of this enumeration type.
bool TestEnumValue(lua_State* L, int idx, const char* typeName, long long& value);
// True when idx holds a value of any enumeration type.
bool TestAnyEnumValue(lua_State* L, int idx, long long& value);

}  // namespace SLB
