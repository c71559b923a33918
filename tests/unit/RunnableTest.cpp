// The agent thread base: lifetime, waits, wake-ups, stops, the CPU limit, Lua.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <lua.hpp>

#include "core/Dom.h"
#include "core/Log.h"
#include "core/Runnable.h"
#include "core/WakeHub.h"
#include "TempDir.h"

using namespace KvoCore;
using Clock = std::chrono::steady_clock;

namespace {

// A thread whose work is given as a function; stopped before its own members go.
class FnThread : public CRunnable {
public:
    explicit FnThread(std::function<void(FnThread&)> body = nullptr, const wxString& name = "probe")
        : CRunnable(name), m_body(std::move(body)) {}
    ~FnThread() override { StopThread(this); }
    void OnRun() override {
        if (m_body) m_body(*this);
    }
    void OnExit() override { ++exits; }

    std::atomic<int> exits{0};

private:
    std::function<void(FnThread&)> m_body;
};

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

long long ThreadCpuNs() {
    struct timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

long long WallNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Burns this thread's CPU until it used ns more of it.
void Burn(long long ns) {
    volatile unsigned long sink = 0;
    long long until = ThreadCpuNs() + ns;
    while (ThreadCpuNs() < until)
        for (int i = 0; i < 1000; ++i) sink = sink + static_cast<unsigned long>(i);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double ParseCpuSeconds(const wxString& text) {
    double seconds = -1;
    std::istringstream in(std::string(text.utf8_str()));
    std::string word, unit;
    in >> word >> seconds >> unit;
    return word == "cpu" && unit == "s" ? seconds : -1;
}

// Outcome of one wait on the thread, filled in by the thread.
struct WaitResult {
    std::atomic<bool> waiting{false};
    std::atomic<bool> done{false};
    bool stop = false;
    bool awakened = false;
    double seconds = 0;
};

void LongWait(FnThread& self, WaitResult& result) {
    result.waiting = true;
    auto begin = Clock::now();
    result.stop = self.TestDestroy(30000, &result.awakened);
    result.seconds = Seconds(Clock::now() - begin);
    result.done = true;
}

// Starts a thread that owes a long CPU-limit sleep, ends it with stop, and
// checks that the sleep ended early as a stop.
void ExpectStopEndsACpuLimitSleep(unsigned limit, const std::function<void(FnThread&)>& stop) {
    std::atomic<bool> burned{false};
    WaitResult r;
    FnThread t([&](FnThread& self) {
        self.TestDestroy(0, nullptr);  // opens the accounting window
        Burn(100000000);               // owes 10 s of wall time at 1 %
        burned = true;
        auto begin = Clock::now();
        r.stop = self.TestDestroy(0, nullptr);
        r.seconds = Seconds(Clock::now() - begin);
        r.done = true;
    });
    t.SetCPULimit(limit);
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(WaitUntil([&] { return burned.load(); }));
    stop(t);
    ASSERT_TRUE(WaitUntil([&] { return r.done.load(); }));
    EXPECT_TRUE(r.stop);
    EXPECT_LT(r.seconds, 5.0);
    t.join();
}

}  // namespace

// --- Lifetime ---

TEST(RunnableLifecycle, UnstartedThreadRefusesADetachedStartAndJoinsCleanly) {
    FnThread idle;
    // A detached start is refused and leaves the thread unstarted.
    EXPECT_FALSE(idle.start(wxPRIORITY_DEFAULT, false, 0));
    EXPECT_FALSE(idle.isRunning());
    idle.join();
    idle.join();
    CRunnable::StopThread(&idle, "kvo.test.thread");
    CRunnable::StopThread(nullptr, "kvo.test.thread");
    EXPECT_EQ(ParseCpuSeconds(idle.GetCPUTimeStr()), 0.0);
    EXPECT_TRUE(idle.start(wxPRIORITY_DEFAULT, true, 0));
    idle.join();

    auto* heap = new FnThread([](FnThread&) {});
    delete heap;
}

TEST(RunnableLifecycle, RunsOnceAsItselfAndIsRunningUntilOnRunReturns) {
    std::atomic<int> runs{0};
    std::atomic<bool> release{false};
    std::atomic<CRunnable*> seen{reinterpret_cast<CRunnable*>(1)};
    FnThread t([&](FnThread& self) {
        ++runs;
        seen = CRunnable::This();
        while (!release && !self.TestDestroy(30000, nullptr)) {
        }
    });
    ASSERT_TRUE(t.start());
    // Set by start itself: an owner polling right away must not take it for ended.
    EXPECT_TRUE(t.isRunning());
    EXPECT_FALSE(t.start());
    ASSERT_TRUE(WaitUntil([&] { return runs == 1; }));
    EXPECT_TRUE(t.isRunning());

    release = true;
    t.Awaken();
    ASSERT_TRUE(WaitUntil([&] { return !t.isRunning(); }));
    t.join();
    t.join();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(t.exits.load(), 1);
    EXPECT_FALSE(t.start());
    // This() is the object on its own thread only.
    EXPECT_EQ(seen.load(), &t);
    EXPECT_EQ(CRunnable::This(), nullptr);
    CRunnable* onPlainThread = reinterpret_cast<CRunnable*>(1);
    std::thread plain([&] { onPlainThread = CRunnable::This(); });
    plain.join();
    EXPECT_EQ(onPlainThread, nullptr);
}

TEST(RunnableLifecycle, LowerPriorityRaisesTheThreadsNiceValue) {
    errno = 0;
    int mainNice = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
    if (mainNice > 4) GTEST_SKIP() << "the tests run at nice " << mainNice;
    std::atomic<int> nice{-100};
    FnThread t([&](FnThread&) { nice = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))); });
    ASSERT_TRUE(t.start(40, true, 0));
    t.join();
    EXPECT_EQ(nice.load(), 4);  // 40 of 0..100 maps to nice 4 of 20..-20
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))), mainNice);
}

namespace {
// Ends only on its exit request and reads nothing of a derived part, so the
// base destructor may stop it.
class ExitOnlyThread : public CRunnable {
public:
    std::atomic<bool> entered{false};
    void OnRun() override {
        entered = true;
        CWakeHub::Instance().WaitFor(60000, [this] { return ExitRequested(); });
    }
};
}  // namespace

TEST(RunnableLifecycle, DestructorStopsAThreadStillRunning) {
    auto* t = new ExitOnlyThread;
    ASSERT_TRUE(t->start());
    ASSERT_TRUE(WaitUntil([&] { return t->entered.load(); }));
    auto begin = Clock::now();
    delete t;
    EXPECT_LT(Seconds(Clock::now() - begin), 5.0);
}

TEST(RunnableLifecycle, StopThreadTracesUnderItsCategory) {
    TempDir dir;
    wxString error;
    ASSERT_TRUE(LogSetFile(dir.file("trace.log"), error)) << error;
    LogSetTraceCategories("kvo.test.stop");
    {
        FnThread t([](FnThread& self) { self.TestDestroy(30000, nullptr); }, "tracedProbe");
        ASSERT_TRUE(t.start());
        CRunnable::StopThread(&t, "kvo.test.stop");
        EXPECT_FALSE(t.isRunning());
    }
    LogSetTraceCategories("");
    LogSetFile(wxString(), error);
    std::ifstream in(dir.file("trace.log"));
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("Stopping thread tracedProbe"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("Thread tracedProbe stopped"), std::string::npos) << text.str();
}

TEST(RunnableLifecycle, CpuTimeIsTheThreadsOwn) {
    std::atomic<bool> burned{false};
    wxString onItself;
    FnThread t([&](FnThread& self) {
        Burn(60000000);
        onItself = self.GetCPUTimeStr();
        burned = true;
        self.TestDestroy(30000, nullptr);
    });
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(WaitUntil([&] { return burned.load(); }));
    EXPECT_GE(ParseCpuSeconds(onItself), 0.059);
    // Read from another thread while it runs, then after it ended.
    EXPECT_GE(ParseCpuSeconds(t.GetCPUTimeStr()), 0.059);
    CRunnable::StopThread(&t);
    EXPECT_GE(ParseCpuSeconds(t.GetCPUTimeStr()), 0.059);
    // The main thread's own CPU time is not what is reported.
    EXPECT_LT(ParseCpuSeconds(t.GetCPUTimeStr()), 60.0);
}

// --- Waits, wake-ups and stop requests ---

TEST(RunnableWait, WakeupAndExitSemanticsWithoutAThread) {
    FnThread t;
    bool awakened = true;
    EXPECT_FALSE(t.TestDestroy());
    // Without events a timed wait lasts its time.
    auto begin = Clock::now();
    EXPECT_FALSE(t.TestDestroy(150, &awakened));
    EXPECT_GE(Seconds(Clock::now() - begin), 0.14);
    EXPECT_FALSE(awakened);

    t.Awaken();
    // A bare poll leaves the wake-up for the next wait...
    EXPECT_FALSE(t.TestDestroy(0, nullptr));
    EXPECT_TRUE(t.HasWakeup());
    // ...which reports and consumes it.
    EXPECT_FALSE(t.TestDestroy(0, &awakened));
    EXPECT_TRUE(awakened);
    EXPECT_FALSE(t.HasWakeup());
    EXPECT_FALSE(t.TestDestroy(0, &awakened));
    EXPECT_FALSE(awakened);

    // A wait ended by a wake-up consumes it even when nobody asks.
    t.interrupt();
    begin = Clock::now();
    EXPECT_FALSE(t.TestDestroy(30000, nullptr));
    EXPECT_LT(Seconds(Clock::now() - begin), 5.0);
    EXPECT_FALSE(t.HasWakeup());

    t.requestExit();
    EXPECT_TRUE(t.ExitRequested());
    EXPECT_TRUE(t.TestDestroy());
    begin = Clock::now();
    EXPECT_TRUE(t.TestDestroy(30000, &awakened));
    EXPECT_LT(Seconds(Clock::now() - begin), 5.0);
}

TEST(RunnableWait, WakeupOrExitRequestEndsALongWait) {
    enum class Signal { AwakenBeforeStart, AwakenDuringWait, RequestExitFromAnotherThread };
    const struct {
        const char* what;
        Signal signal;
        bool stop, awakened;
    } cases[] = {
        {"wake-up before the wait is not lost", Signal::AwakenBeforeStart, false, true},
        {"wake-up during the wait", Signal::AwakenDuringWait, false, true},
        {"exit request from another thread", Signal::RequestExitFromAnotherThread, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WaitResult r;
        bool again = true, againAwakened = true;
        FnThread t([&](FnThread& self) {
            LongWait(self, r);
            if (!r.stop) again = self.TestDestroy(10, &againAwakened);
        });
        if (c.signal == Signal::AwakenBeforeStart) t.Awaken();
        ASSERT_TRUE(t.start());
        ASSERT_TRUE(WaitUntil([&] { return r.waiting.load(); }));
        if (c.signal == Signal::AwakenDuringWait) t.Awaken();
        if (c.signal == Signal::RequestExitFromAnotherThread) std::thread([&] { t.requestExit(); }).join();
        t.join();
        EXPECT_EQ(r.stop, c.stop);
        EXPECT_EQ(r.awakened, c.awakened);
        EXPECT_LT(r.seconds, 5.0);
        if (!c.stop) {
            EXPECT_FALSE(again || againAwakened) << "a wake-up ends one wait only";
        }
    }
}

// --- The agent's stop ---

class RunnableAgentStop : public ::testing::Test {
protected:
    void SetUp() override {
        wxString error;
        ASSERT_TRUE(CDom::Create({wxString(m_dir.file("work")), wxString()}, error)) << error;
    }
    void TearDown() override { CDom::Destroy(); }
    TempDir m_dir;
};

TEST_F(RunnableAgentStop, StopEndsALongWaitAndEveryLaterTest) {
    WaitResult r;
    FnThread t([&](FnThread& self) { LongWait(self, r); });
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(WaitUntil([&] { return r.waiting.load(); }));
    FnThread bystander;
    EXPECT_FALSE(bystander.TestDestroy());

    CDom::This()->RequestStop();
    ASSERT_TRUE(WaitUntil([&] { return r.done.load(); }));
    EXPECT_TRUE(r.stop);
    EXPECT_LT(r.seconds, 5.0);
    EXPECT_TRUE(bystander.TestDestroy());
    bool awakened = true;
    EXPECT_TRUE(bystander.TestDestroy(30000, &awakened));
    EXPECT_FALSE(awakened);
    t.join();
}

TEST_F(RunnableAgentStop, StopEndsACpuLimitSleep) {
    ExpectStopEndsACpuLimitSleep(1, [](FnThread&) { CDom::This()->RequestStop(); });
}

// --- CPU limit ---

TEST(RunnableCpuLimit, SettingIsClampedAndConstructorSetsIt) {
    FnThread t;
    EXPECT_EQ(t.GetCPULimit(), 100u);
    t.SetCPULimit(0);
    EXPECT_EQ(t.GetCPULimit(), 1u);
    t.SetCPULimit(250);
    EXPECT_EQ(t.GetCPULimit(), 100u);

    struct Plain : CRunnable {
        Plain(bool lua, int limit) : CRunnable(lua, limit, false) {}
        void OnRun() override {}
    };
    Plain limited(false, 20);
    EXPECT_EQ(limited.GetCPULimit(), 20u);
    EXPECT_EQ(limited.L(), nullptr);
    Plain unlimited(true, -1);
    EXPECT_EQ(unlimited.GetCPULimit(), 100u);
    EXPECT_NE(unlimited.L(), nullptr);
}

TEST(RunnableCpuLimit, ABurstIsPaidForBeforeTestDestroyReturns) {
    // After a burst the share since the window opened is back under the limit,
    // however loaded the machine (load only lengthens the wall time).
    struct Share {
        double limited = 1, unlimitedCallSeconds = 100;
    } share;
    FnThread t([&](FnThread& self) {
        self.TestDestroy(0, nullptr);
        long long wall0 = WallNs(), cpu0 = ThreadCpuNs();
        Burn(100000000);
        self.TestDestroy(0, nullptr);
        share.limited = double(ThreadCpuNs() - cpu0) / double(WallNs() - wall0);

        self.SetCPULimit(100);
        Burn(100000000);
        auto begin = Clock::now();
        self.TestDestroy(0, nullptr);
        share.unlimitedCallSeconds = Seconds(Clock::now() - begin);
    });
    t.SetCPULimit(10);
    ASSERT_TRUE(t.start());
    t.join();
    EXPECT_LE(share.limited, 0.12);
    // At 10 % that burst would cost 0.9 s of sleep; unlimited it costs none.
    EXPECT_LT(share.unlimitedCallSeconds, 0.5);
}

TEST(RunnableCpuLimit, BusyThreadStaysNearItsShare) {
    double measured = 1;
    long long cpuUsed = 0;
    FnThread t([&](FnThread& self) {
        long long wall0 = WallNs(), cpu0 = ThreadCpuNs();
        while (WallNs() - wall0 < 2500000000LL) {
            Burn(500000);
            if (self.TestDestroy(0, nullptr)) break;
        }
        cpuUsed = ThreadCpuNs() - cpu0;
        measured = double(cpuUsed) / double(WallNs() - wall0);
    });
    t.SetCPULimit(20);
    ASSERT_TRUE(t.start());
    t.join();
    EXPECT_GT(cpuUsed, 0);
    EXPECT_LT(measured, 0.40);
}

TEST(RunnableCpuLimit, RequestExitEndsACpuLimitSleep) {
    ExpectStopEndsACpuLimitSleep(0, [](FnThread& t) { t.requestExit(); });  // 0 counts as 1 %
}

// --- Lua ---

namespace {
void MarkState(lua_State* L) {
    lua_pushinteger(L, 7);
    lua_setglobal(L, "setupMark");
}
}  // namespace

TEST(RunnableLua, InitLuaGivesAWorkingStateWithTheStandardLibraries) {
    FnThread t;
    wxString error;
    EXPECT_EQ(t.L(), nullptr);
    EXPECT_FALSE(t.Lua("return 1", "", error));
    EXPECT_FALSE(error.empty());

    ASSERT_TRUE(t.InitLua("probe.lua"));
    lua_State* L = t.L();
    ASSERT_NE(L, nullptr);
    ASSERT_TRUE(t.InitLua("other.lua"));
    EXPECT_EQ(t.L(), L);

    int top = lua_gettop(L);
    ASSERT_TRUE(t.Lua("return 6 * 7, string.upper('ok'), #table.concat({'a', 'b'})", "", error)) << error;
    ASSERT_EQ(lua_gettop(L), top + 3);
    EXPECT_EQ(lua_tointeger(L, -3), 42);
    EXPECT_STREQ(lua_tostring(L, -2), "OK");
    EXPECT_EQ(lua_tointeger(L, -1), 2);
    lua_settop(L, top);

    EXPECT_FALSE(t.Lua("error('boom')", "", error));
    EXPECT_NE(error.Find("probe.lua"), wxNOT_FOUND) << error;
    EXPECT_NE(error.Find("boom"), wxNOT_FOUND) << error;
    EXPECT_FALSE(t.Lua("return (", "broken chunk", error));
    EXPECT_NE(error.Find("broken chunk"), wxNOT_FOUND) << error;
    EXPECT_EQ(lua_gettop(L), top);
}

TEST(RunnableLua, BareStateAndHostSetup) {
    FnThread bare;
    ASSERT_TRUE(bare.InitLua("bare", false));
    wxString error;
    ASSERT_TRUE(bare.Lua("return string == nil", "", error)) << error;
    EXPECT_TRUE(lua_toboolean(bare.L(), -1));

    CRunnable::SetLuaSetup(&MarkState);
    FnThread hosted;
    bool made = hosted.InitLua();
    CRunnable::SetLuaSetup(nullptr);
    ASSERT_TRUE(made);
    ASSERT_TRUE(hosted.Lua("return setupMark", "", error)) << error;
    EXPECT_EQ(lua_tointeger(hosted.L(), -1), 7);
}

TEST(RunnableLua, StateIsUsableOnTheThread) {
    long long result = 0;
    FnThread t([&](FnThread& self) {
        wxString error;
        if (self.Lua("local s = 0 for i = 1, 100 do s = s + i end return s", "sum", error))
            result = lua_tointeger(self.L(), -1);
    });
    ASSERT_TRUE(t.InitLua());
    ASSERT_TRUE(t.start());
    t.join();
    EXPECT_EQ(result, 5050);
}
