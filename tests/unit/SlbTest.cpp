// The binder's object lifetimes and const references, which scripts cannot
// show; classes, statics, enums and error texts are tested through the agent
// (tests/lua/im_module.lua, dom_state.lua).
#include <gtest/gtest.h>

#include <string>

#include <lua.hpp>

#include "slb/Class.h"
#include "slb/Namespace.h"
#include "slb/Object.h"

namespace {

// A class as a plug-in would bind it: counts its live instances.
struct Counter {
    static int live;
    explicit Counter(int start) : value(start) { ++live; }
    ~Counter() { --live; }
    int value;
};
int Counter::live = 0;

const char* const kCounter = "SLB.test.Counter";
const char* const kHolder = "SLB.test.Holder";

int NewCounter(lua_State* L) {
    int start = static_cast<int>(luaL_optinteger(L, 1, 0));
    SLB::NewObject<Counter>(L, kCounter, start);
    return 1;
}

int Increment(lua_State* L) {
    auto* c = static_cast<Counter*>(SLB::CheckSelf(L, kCounter));
    lua_pushinteger(L, ++c->value);
    return 1;
}

// A holder is built from a counter, which must be a real, non-const one.
int NewHolder(lua_State* L) {
    auto* c = static_cast<Counter*>(SLB::CheckNonConstObject(L, 1, kCounter));
    SLB::NewObject<Counter>(L, kHolder, c->value);
    return 1;
}

void Define(lua_State* L) {
    SLB::Open(L);
    SLB::Class(L, kCounter)
        .Constructor(NewCounter)
        .Method("Increment", Increment);
    SLB::Class(L, kHolder).Constructor(NewHolder);
}

class SlbTest : public ::testing::Test {
protected:
    void SetUp() override {
        L = luaL_newstate();
        luaL_openlibs(L);
        Define(L);
    }
    void TearDown() override {
        if (L) lua_close(L);
    }
    // Runs a chunk; returns "" or the error text.
    std::string Run(const std::string& chunk) {
        if (luaL_dostring(L, chunk.c_str()) == LUA_OK) return "";
        std::string error = lua_tostring(L, -1);
        lua_pop(L, 1);
        return error;
    }
    std::string Eval(const std::string& expression) {
        EXPECT_EQ("", Run("result = tostring(" + expression + ")"));
        lua_getglobal(L, "result");
        std::string value = lua_tostring(L, -1) ? lua_tostring(L, -1) : "";
        lua_pop(L, 1);
        return value;
    }
    lua_State* L = nullptr;
};

}  // namespace

TEST_F(SlbTest, ConstructedObjectsLiveInLuaAndAreCollected) {
    Counter::live = 0;
    EXPECT_EQ("", Run("local c = SLB.test.Counter(41); assert(c:Increment() == 42); keep = c"));
    EXPECT_EQ(1, Counter::live);
    EXPECT_EQ("", Run("for i = 1, 100 do SLB.test.Counter(i) end; collectgarbage(); collectgarbage()"));
    EXPECT_EQ(1, Counter::live) << "temporary objects are destroyed by __gc";
    EXPECT_EQ("", Run("keep = nil; collectgarbage(); collectgarbage()"));
    EXPECT_EQ(0, Counter::live);
    EXPECT_EQ("", Run("keep = SLB.test.Counter(1)"));
    lua_close(L);
    L = nullptr;
    EXPECT_EQ(0, Counter::live) << "closing the state destroys what it owns";
}

TEST_F(SlbTest, ConstObjectsAreRefusedWhereNonConstIsNeeded) {
    Counter held(9);
    SLB::PushReference(L, kCounter, &held, true);
    lua_setglobal(L, "constCounter");
    SLB::PushReference(L, kCounter, &held, false);
    lua_setglobal(L, "plainCounter");
    EXPECT_NE(std::string::npos, Run("SLB.test.Holder(constCounter)").find("Expected (non-const) Object"));
    EXPECT_EQ("", Run("h = SLB.test.Holder(plainCounter)"));
    EXPECT_EQ("10", Eval("plainCounter:Increment()"));
    EXPECT_EQ("", Run("plainCounter = nil; constCounter = nil; collectgarbage()"));
    EXPECT_EQ(10, held.value) << "a reference is never destroyed by Lua";
}

