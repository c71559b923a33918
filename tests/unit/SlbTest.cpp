#include <gtest/gtest.h>

#include <string>

#include <lua.hpp>

#include "slb/Class.h"
#include "slb/Enum.h"
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

int Version(lua_State* L) {
    lua_pushinteger(L, lua_gettop(L));  // how many arguments reached it
    return 1;
}

int Twice(lua_State* L) {
    lua_pushnumber(L, 2 * luaL_checknumber(L, 1));
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
        .Method("Increment", Increment)
        .StaticNoArgs("Version", Version)
        .Static("Twice", Twice);
    SLB::Class(L, kHolder).Constructor(NewHolder);
    SLB::Enum(L, "SLB.test.Color", "test::Color", {{"Red", 0}, {"Green", 1}, {"Blue", 5}});
    SLB::Enum(L, "SLB.test.Size", "test::Size", {{"Small", 1}});
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

TEST_F(SlbTest, ClassTableHoldsTheBinderFields) {
    EXPECT_EQ("SLB.test.Counter", Eval("SLB.test.Counter.__class"));
    EXPECT_EQ("table", Eval("type(SLB.test.Counter.__index)"));
    EXPECT_EQ("function", Eval("type(SLB.test.Counter.__gc)"));
    EXPECT_EQ("function", Eval("type(SLB.test.Counter.__index.Increment)"));
}

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

TEST_F(SlbTest, StaticFunctionsThroughTheClassAndAsMethods) {
    EXPECT_EQ("0", Eval("SLB.test.Counter.Version()"));
    EXPECT_EQ("0", Eval("SLB.test.Counter(3):Version()")) << "an argument-less static ignores the object";
    EXPECT_EQ("0", Eval("SLB.test.Counter.Version(1, 2, 3)"));
    EXPECT_EQ("14", Eval("SLB.test.Counter.Twice(7)"));
}

TEST_F(SlbTest, BinderErrorTexts) {
    struct Case {
        const char* chunk;
        const char* message;
    } cases[] = {
        {"SLB.test.Counter.Increment(nil)",
         "Expected non-null object(SLB.test.Counter) as first argument to method call"},
        {"SLB.test.Counter.Increment()", "Expected non-null object(SLB.test.Counter) as first argument to method call"},
        {"SLB.test.Counter.Increment(SLB.test.Holder(SLB.test.Counter()))",
         "Expected non-null object(SLB.test.Counter) as first argument to method call"},
        {"SLB.test.Holder(42)", "Expected (non-const) Object SLB.test.Counter"},
        {"SLB.test.Holder(SLB.test.Holder(SLB.test.Counter()))", "Expected (non-const) Object SLB.test.Counter"},
    };
    for (const Case& c : cases) {
        std::string error = Run(c.chunk);
        EXPECT_NE(std::string::npos, error.find(c.message)) << c.chunk << " gave: " << error;
    }
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

TEST_F(SlbTest, EnumValuesAreUserdataComparableAndReadable) {
    EXPECT_EQ("userdata", Eval("type(SLB.test.Color.Blue)"));
    EXPECT_EQ("5", Eval("SLB.tonumber(SLB.test.Color.Blue)"));
    EXPECT_EQ("0", Eval("SLB.tonumber(SLB.test.Color.Red)"));
    EXPECT_EQ("true", Eval("SLB.test.Color.Green == SLB.test.Color.Green"));
    EXPECT_EQ("false", Eval("SLB.test.Color.Green == SLB.test.Color.Blue"));
    EXPECT_EQ("false", Eval("SLB.test.Size.Small == SLB.test.Color.Green")) << "same number, other type";
    EXPECT_EQ("7", Eval("SLB.tonumber(7)"));
    EXPECT_EQ("nil", Eval("SLB.tonumber('x')"));
    SLB::PushEnumValue(L, "test::Color", 5);
    lua_setglobal(L, "pushed");
    EXPECT_EQ("true", Eval("pushed == SLB.test.Color.Blue")) << "a separately made value of one enumerator";
    long long value = 0;
    lua_getglobal(L, "pushed");
    EXPECT_TRUE(SLB::TestEnumValue(L, -1, "test::Color", value));
    EXPECT_FALSE(SLB::TestEnumValue(L, -1, "test::Size", value));
    EXPECT_EQ(8u, lua_rawlen(L, -1));
    lua_pop(L, 1);
}

TEST_F(SlbTest, DefiningAnExistingClassKeepsIt) {
    EXPECT_EQ("", Run("original = SLB.test.Counter; SLB.test.Counter.__index.Extra = 1"));
    SLB::Class again(L, kCounter);
    EXPECT_TRUE(again.Existed());
    again.Method("Increment", Twice);
    EXPECT_EQ("true", Eval("original == SLB.test.Counter"));
    EXPECT_EQ("1", Eval("SLB.test.Counter.__index.Extra"));
    EXPECT_EQ("5", Eval("SLB.test.Counter(4):Increment()")) << "the original method stays";
}
