#include "slb/Object.h"

namespace SLB {

void PushReference(lua_State* L, const char* className, void* object, bool isConst) {
    auto* header = static_cast<ObjectHeader*>(lua_newuserdata(L, sizeof(ObjectHeader)));
    header->object = object;
    header->destroy = nullptr;
    header->isConst = isConst;
    luaL_getmetatable(L, className);
    lua_setmetatable(L, -2);
}

void* TestObject(lua_State* L, int idx, const char* className, bool allowConst) {
    auto* header = static_cast<ObjectHeader*>(luaL_testudata(L, idx, className));
    if (!header || !header->object) return nullptr;
    if (header->isConst && !allowConst) return nullptr;
    return header->object;
}

void* CheckNonConstObject(lua_State* L, int idx, const char* className) {
    void* object = TestObject(L, idx, className, false);
    if (!object) luaL_error(L, "Expected (non-const) Object %s", className);
    return object;
}

void* CheckSelf(lua_State* L, const char* className) {
    if (lua_isnoneornil(L, 1))
        luaL_error(L, "Expected non-null object(%s) as first argument to method call", className);
    void* object = TestObject(L, 1, className, true);
    if (!object) luaL_error(L, "Expected non-null object(%s) as first argument to method call", className);
    return object;
}

ObjectHeader* TestHeader(lua_State* L, int idx) {
    if (lua_type(L, idx) != LUA_TUSERDATA || !lua_getmetatable(L, idx)) return nullptr;
    lua_getfield(L, -1, "__class");
    bool isObject = lua_isstring(L, -1) != 0;
    lua_pop(L, 2);
    return isObject ? static_cast<ObjectHeader*>(lua_touserdata(L, idx)) : nullptr;
}

}  // namespace SLB
