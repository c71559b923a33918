// How the binder keeps C++ objects in Lua userdata.
//
// An object constructed from Lua is built inside its userdata and destroyed by
// "__gc"; an object pushed by reference only points to memory Lua does not own.
// Every object userdata carries the metatable of its class (registry name =
// the class's Lua name), so class tests are metatable tests.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

#include <lua.hpp>

namespace SLB {

struct ObjectHeader {
    void* object;             // null once destroyed
    void (*destroy)(void*);   // runs the destructor of an owned object; null for references
    bool isConst;
};

// Size of the header rounded up so that the payload is aligned for any type.
constexpr size_t HeaderSize() {
    return (sizeof(ObjectHeader) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
           alignof(std::max_align_t);
}

// Pushes a userdata of class className that refers to object (not owned).
void PushReference(lua_State* L, const char* className, void* object, bool isConst = false);

// The object at idx when it is a userdata of class className (const ones only
// when allowConst), else null. Never raises.
void* TestObject(lua_State* L, int idx, const char* className, bool allowConst);

// The object at idx, or raises "Expected (non-const) Object <className>".
void* CheckNonConstObject(lua_State* L, int idx, const char* className);

// The object a member method is called on (argument 1), or raises
// "Expected non-null object(<className>) as first argument to method call".
void* CheckSelf(lua_State* L, const char* className);

// The header of any binder object at idx, or null.
ObjectHeader* TestHeader(lua_State* L, int idx);

// Builds T inside a new userdata of class className from args and pushes it.
// The class must be registered. Exceptions from T's constructor propagate
// before anything is pushed that would need cleaning.
template <typename T, typename... Args>
T* NewObject(lua_State* L, const char* className, Args&&... args) {
    void* block = lua_newuserdata(L, HeaderSize() + sizeof(T));
    auto* header = static_cast<ObjectHeader*>(block);
    header->object = nullptr;
    header->destroy = nullptr;
    header->isConst = false;
    // The metatable goes on first so that __gc runs even if the constructor throws.
    luaL_getmetatable(L, className);
    lua_setmetatable(L, -2);
    T* object = new (static_cast<char*>(block) + HeaderSize()) T(std::forward<Args>(args)...);
    header->object = object;
    header->destroy = [](void* p) { static_cast<T*>(p)->~T(); };
    return object;
}

}  // namespace SLB
