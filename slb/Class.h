// Class registration of the binder.
//
// A class is a metatable, kept in the registry under the class's Lua name and
// stored at that dotted path ("SLB.im.ImThread"). Its "__index" is the method
// table, "__class" the name and "__gc" the destructor of objects built inside
// their userdata. Calling the class table runs the constructor; the class
// table also reaches the method table, so static functions are called as
// SLB.im.ImThread.Name(...). Defining a class whose metatable exists already
// keeps that one: every builder call then changes nothing.
#pragma once

#include <string>

#include <lua.hpp>

namespace SLB {

class Class {
public:
    Class(lua_State* L, const char* fullName);

    // True when the class existed before this builder was made.
    bool Existed() const { return m_existed; }
    const char* Name() const { return m_name.c_str(); }

    // ctor is called with the constructor's arguments only and must push the
    // new object (SLB::NewObject) as its one result.
    Class& Constructor(lua_CFunction ctor);
    // A member method: argument 1 is the object (check it with SLB::CheckSelf).
    Class& Method(const char* name, lua_CFunction fn);
    // A static function called through the class table with its own arguments.
    Class& Static(const char* name, lua_CFunction fn);
    // A static function without arguments: whatever it is called with (an
    // object when called as a method) is dropped first.
    Class& StaticNoArgs(const char* name, lua_CFunction fn);

private:
    void SetMethod(const char* name);  // pops the function on top of the stack

    lua_State* m_L;
    std::string m_name;
    bool m_existed;
};

}  // namespace SLB
