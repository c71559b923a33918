// The agent thread base: lifetime, waits, wake-ups, stops and the CPU limit.
// Scripts on agent threads are tested through the agent (tests/lua/agent_thread.lua).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "core/Dom.h"
#include "core/Runnable.h"
#include "core/WakeHub.h"
#include "tests/unit/TempDir.h"
#include "tests/unit/WaitUntil.h"

using namespace KvoCore;
using Clock = std::chrono::steady_clock;
using KvoTest::WaitUntil;

namespace {

// A thread whose work is given as a function; stopped before its own members go.
class FnThread : public CRunnable {
public:
    explicit FnThread(std::function<void(FnThread&)> body = nullptr) : CRunnable("probe"), m_body(std::move(body)) {}
    ~FnThread() override { StopThread(this); }
    void OnRun() override {
        if (m_body) m_body(*this);
    }
    void OnExit() override { ++exits; }
    std::atomic<int> exits{0};

private:
    std::function<void(FnThread&)> m_body;
};

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
    const long long until = ThreadCpuNs() + ns;
    while (ThreadCpuNs() < until)
        for (int i = 0; i < 1000; ++i) sink = sink + static_cast<unsigned long>(i);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

int OwnNice() { return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))); }

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

TEST(RunnableLifecycle, RunsOnceAsItselfAtItsPriorityAndJoinsCleanly) {
    FnThread idle;
    EXPECT_FALSE(idle.start(wxPRIORITY_DEFAULT, false, 0)) << "a detached start is refused";
    idle.join();  // unstarted: returns at once

    const int mainNice = OwnNice();
    std::atomic<int> runs{0}, nice{-100};
    std::atomic<CRunnable*> seen{nullptr};
    FnThread t([&](FnThread& self) {
        ++runs;
        seen = CRunnable::This();
        nice = OwnNice();
        self.TestDestroy(30000, nullptr);
    });
    ASSERT_TRUE(t.start(40, true, 0));
    EXPECT_TRUE(t.isRunning()) << "set by start itself: an owner polling at once must not take it for ended";
    EXPECT_FALSE(t.start());
    ASSERT_TRUE(WaitUntil([&] { return runs == 1; }));
    t.Awaken();
    t.join();
    t.join();
    EXPECT_FALSE(t.isRunning());
    EXPECT_EQ(t.exits.load(), 1);
    EXPECT_EQ(seen.load(), &t);
    EXPECT_EQ(CRunnable::This(), nullptr);
    if (mainNice <= 4) {
        EXPECT_EQ(nice.load(), 4) << "40 of 0..100 maps to nice 4 of 20..-20";
    }

    auto* running = new ExitOnlyThread;
    ASSERT_TRUE(running->start());
    ASSERT_TRUE(WaitUntil([&] { return running->entered.load(); }));
    const auto begin = Clock::now();
    delete running;
    EXPECT_LT(Seconds(Clock::now() - begin), 5.0) << "the destructor stops a running thread";
}

TEST(RunnableWait, WakeupAndExitSemanticsWithoutAThread) {
    FnThread t;
    bool awakened = true;
    auto begin = Clock::now();
    EXPECT_FALSE(t.TestDestroy(150, &awakened));
    EXPECT_GE(Seconds(Clock::now() - begin), 0.14) << "without events a timed wait lasts its time";
    EXPECT_FALSE(awakened);

    t.Awaken();
    EXPECT_FALSE(t.TestDestroy(0, nullptr));
    EXPECT_TRUE(t.HasWakeup()) << "a bare poll leaves the wake-up for the next wait";
    bool again = true;
    EXPECT_FALSE(t.TestDestroy(0, &awakened) || t.TestDestroy(0, &again));
    EXPECT_TRUE(awakened && !again) << "a wake-up is reported once";

    t.Awaken();
    EXPECT_FALSE(t.TestDestroy(30000, nullptr));
    EXPECT_FALSE(t.HasWakeup()) << "a wait ended by a wake-up consumes it even when nobody asks";

    t.requestExit();
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
        std::atomic<bool> waiting{false};
        bool stop = false, awakened = false, again = true, againAwakened = true;
        double seconds = 0;
        FnThread t([&](FnThread& self) {
            waiting = true;
            const auto begin = Clock::now();
            stop = self.TestDestroy(30000, &awakened);
            seconds = Seconds(Clock::now() - begin);
            if (!stop) again = self.TestDestroy(10, &againAwakened);
        });
        if (c.signal == Signal::AwakenBeforeStart) t.Awaken();
        ASSERT_TRUE(t.start());
        ASSERT_TRUE(WaitUntil([&] { return waiting.load(); }));
        if (c.signal == Signal::AwakenDuringWait) t.Awaken();
        if (c.signal == Signal::RequestExitFromAnotherThread) std::thread([&] { t.requestExit(); }).join();
        t.join();
        EXPECT_EQ(stop, c.stop);
        EXPECT_EQ(awakened, c.awakened);
        EXPECT_LT(seconds, 5.0);
        if (!c.stop) {
            EXPECT_FALSE(again || againAwakened) << "a wake-up ends one wait only";
        }
    }
}

// The agent's stop and a thread's own exit request both end the sleep that
// pays for a burst under a CPU limit, and every later test sees the stop.
TEST(RunnableCpuLimit, StopOrExitRequestEndsTheSleepOfALimitedThread) {
    for (bool agentStop : {true, false}) {
        SCOPED_TRACE(agentStop ? "agent stop" : "exit request");
        TempDir dir;
        wxString error;
        ASSERT_TRUE(CDom::Create({wxString(dir.file("work")), wxString()}, error)) << error;
        std::atomic<bool> burned{false}, done{false};
        bool stop = false;
        double seconds = 100;
        FnThread t([&](FnThread& self) {
            self.TestDestroy(0, nullptr);  // opens the accounting window
            Burn(100000000);               // owes 10 s of wall time at 1 %
            burned = true;
            const auto begin = Clock::now();
            stop = self.TestDestroy(0, nullptr);
            seconds = Seconds(Clock::now() - begin);
            done = true;
        });
        t.SetCPULimit(0);  // counts as 1 %
        ASSERT_TRUE(t.start());
        ASSERT_TRUE(WaitUntil([&] { return burned.load(); }));
        if (agentStop) CDom::This()->RequestStop();
        if (!agentStop) t.requestExit();
        ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
        EXPECT_TRUE(stop);
        EXPECT_LT(seconds, 5.0);
        t.join();
        FnThread bystander;
        EXPECT_EQ(agentStop, bystander.TestDestroy());
        CDom::Destroy();
    }
}

TEST(RunnableCpuLimit, ABurstIsPaidForBeforeTestDestroyReturns) {
    // After a burst the share since the window opened is back under the limit,
    // however loaded the machine (load only lengthens the wall time). What a
    // helper thread burnt for it counts as its own.
    double limited = 1, unlimitedCallSeconds = 100;
    std::atomic<long long> helperNs{0};
    FnThread t([&](FnThread& self) {
        self.TestDestroy(0, nullptr);
        const long long wall0 = WallNs(), cpu0 = ThreadCpuNs();
        std::thread helper([&] {
            const long long start = ThreadCpuNs();
            Burn(100000000);
            helperNs = ThreadCpuNs() - start;
        });
        Burn(100000000);
        helper.join();
        self.TestDestroy(0, nullptr);
        limited = double(ThreadCpuNs() - cpu0 + helperNs) / double(WallNs() - wall0);

        self.SetCPULimit(250);  // more than all is all
        Burn(100000000);
        const auto begin = Clock::now();
        self.TestDestroy(0, nullptr);
        unlimitedCallSeconds = Seconds(Clock::now() - begin);
    });
    t.SetCPULimit(10);
    t.SetHelperCpuSource([&] { return helperNs.load(); });
    ASSERT_TRUE(t.start());
    t.join();
    EXPECT_LE(limited, 0.12);
    EXPECT_LT(unlimitedCallSeconds, 0.5) << "at 10 % that burst would cost 0.9 s of sleep; unlimited none";
}

TEST(RunnableCpuLimit, LimitedThreadsShareOneBudget) {
    // Two scanners running at once under a 10 % limit use 10 % together.
    std::atomic<long long> burntNs{0};
    std::atomic<int> counting{0};
    const long long wall0 = WallNs();
    auto scanner = [&](FnThread& self) {
        self.TestDestroy(0, nullptr);  // starts spending from the budget
        ++counting;
        while (counting.load() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const long long cpu0 = ThreadCpuNs();
        Burn(100000000);
        self.TestDestroy(0, nullptr);
        burntNs += ThreadCpuNs() - cpu0;
    };
    FnThread a(scanner), b(scanner);
    a.SetCPULimit(10);
    b.SetCPULimit(10);
    ASSERT_TRUE(a.start());
    ASSERT_TRUE(b.start());
    a.join();
    b.join();
    EXPECT_LE(double(burntNs.load()) / double(WallNs() - wall0), 0.12);
}
