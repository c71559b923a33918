#include "slb/Class.h"

#include "slb/Namespace.h"
#include "slb/Object.h"

namespace SLB {
namespace {

int Collect(lua_State* L) {
    auto* header = static_cast<ObjectHeader*>(lua_touserdata(L, 1));
    if (header && header->object && header->destroy) {
        void* object = header->object;
        header->object = nullptr;
        header->destroy(object);
    }
    return 0;
}

// __call of the class table: the class table itself arrives as argument 1.
int Construct(lua_State* L) {
    lua_remove(L, 1);
    lua_CFunction ctor = lua_tocfunction(L, lua_upvalueindex(1));
    if (!ctor) {
        lua_getfield(L, lua_upvalueindex(2), "__class");
        return luaL_error(L, "class %s has no constructor", lua_tostring(L, -1));
    }
    int base = lua_gettop(L);
    lua_pushcfunction(L, ctor);
    lua_insert(L, 1);
    lua_call(L, base, LUA_MULTRET);
    return lua_gettop(L);
}

int CallWithoutArguments(lua_State* L) {
    lua_settop(L, 0);
    lua_CFunction fn = lua_tocfunction(L, lua_upvalueindex(1));
    return fn(L);
}

int ToString(lua_State* L) {
    lua_getmetatable(L, 1);
    lua_getfield(L, -1, "__class");
    auto* header = static_cast<ObjectHeader*>(lua_touserdata(L, 1));
    lua_pushfstring(L, "%s: %p", lua_tostring(L, -1), header ? header->object : nullptr);
    return 1;
}

}  // namespace

Class::Class(lua_State* L, const char* fullName) : m_L(L), m_name(fullName) {
    m_existed = luaL_newmetatable(L, fullName) == 0;
    if (!m_existed) {
        lua_newtable(L);
        lua_setfield(L, -2, "__index");
        lua_pushstring(L, fullName);
        lua_setfield(L, -2, "__class");
        lua_pushcfunction(L, Collect);
        lua_setfield(L, -2, "__gc");
        lua_pushcfunction(L, ToString);
        lua_setfield(L, -2, "__tostring");
        // The class table's own metatable: calling it constructs, and it
        // reaches the methods so that static functions work through it.
        lua_newtable(L);
        lua_getfield(L, -2, "__index");
        lua_setfield(L, -2, "__index");
        lua_pushnil(L);  // constructor, set by Constructor()
        lua_pushvalue(L, -3);
        lua_pushcclosure(L, Construct, 2);
        lua_setfield(L, -2, "__call");
        lua_setmetatable(L, -2);
    }
    // An existing class is still published at its path (a new Lua state may
    // reach the same registry only through it).
    SetAtPath(L, fullName);
}

Class& Class::Constructor(lua_CFunction ctor) {
    if (m_existed) return *this;
    luaL_getmetatable(m_L, m_name.c_str());
    lua_getmetatable(m_L, -1);
    lua_pushcfunction(m_L, ctor);
    lua_pushvalue(m_L, -3);
    lua_pushcclosure(m_L, Construct, 2);
    lua_setfield(m_L, -2, "__call");
    lua_pop(m_L, 2);
    return *this;
}

void Class::SetMethod(const char* name) {
    luaL_getmetatable(m_L, m_name.c_str());
    lua_getfield(m_L, -1, "__index");
    lua_pushvalue(m_L, -3);
    lua_setfield(m_L, -2, name);
    lua_pop(m_L, 3);
}

Class& Class::Method(const char* name, lua_CFunction fn) {
    if (m_existed) return *this;
    lua_pushcfunction(m_L, fn);
    SetMethod(name);
    return *this;
}

Class& Class::Static(const char* name, lua_CFunction fn) { return Method(name, fn); }

Class& Class::StaticNoArgs(const char* name, lua_CFunction fn) {
    if (m_existed) return *this;
    lua_pushcfunction(m_L, fn);
    lua_pushcclosure(m_L, CallWithoutArguments, 1);
    SetMethod(name);
    return *this;
}

}  // namespace SLB
