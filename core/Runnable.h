// CRunnable: an agent thread, a joinable wxThread with stop and wake-up
// handling, an optional CPU limit and an optional Lua state of its own.
//
// The owner creates the object, calls start() and finally StopThread() (or
// requestExit() and join()) before deleting it. OnRun() runs on the new thread;
// it should call TestDestroy(ms) where it may pause: that is where a stop
// request, a wake-up and the CPU limit take effect. The wake-up, the stop
// request and the agent's stop are thread-safe; the rest belongs to the owner.
#pragma once

#include <time.h>

#include <atomic>
#include <functional>
#include <condition_variable>
#include <mutex>
#include <string>

#include <wx/string.h>
#include <wx/thread.h>

struct lua_State;

namespace KvoCore {

class CDom;

class CRunnable : public wxThread {
public:
    explicit CRunnable(const wxString& name = wxString(), CDom* dom = nullptr);
    // withLua: InitLua() now; cpuLimitPercent: SetCPULimit (negative: no
    // limit); traceLifecycle: trace the thread's start and end (with its CPU
    // time) under the category "kvo.core.thread".
    CRunnable(bool withLua, int cpuLimitPercent, bool traceLifecycle);

    // Virtual slots, in order.
    // True when the thread must stop (its own request or the agent's stop).
    bool TestDestroy() override;
    ~CRunnable() override;
    ExitCode Entry() override;
    void OnDelete() override {}
    void OnKill() override {}
    void OnExit() override {}
    // requestExit() and join(): the joinable form of wxThread::Delete.
    virtual void Delete();
    virtual wxString GetThreadName() const { return m_name; }
    // Ends the current or next wait of this thread (TestDestroy, CDom::ShouldExit) early.
    virtual void Awaken();
    virtual void interrupt() { Awaken(); }
    // Asks the thread to stop: TestDestroy returns true from now on.
    virtual void requestExit();
    // Applies the CPU limit (on the thread itself), then waits at most ms for a
    // wake-up or a stop. Returns true when the thread must stop; *awakened tells
    // a wake-up. A wake-up is consumed when it is reported or ms > 0; a bare
    // poll (0, nullptr) leaves it for the next wait.
    virtual bool TestDestroy(unsigned int ms, bool* awakened);
    virtual void OnRun() = 0;

    // Creates and runs the thread with the wx priority (0..100) and stack size
    // (0: default). Agent threads are always joined by their owner, so joinable
    // must be true. False when it cannot be started or was started before.
    bool start(unsigned int priority = wxPRIORITY_DEFAULT, bool joinable = true,
               unsigned int stackSize = 0);
    // True from start() until OnRun has returned.
    bool isRunning() const { return m_running.load(); }
    // Waits for the thread's end; does nothing when it never started, was
    // joined already or when called on the thread itself.
    void join();
    // Requests exit and joins; traces under category when given.
    static void StopThread(CRunnable* thread, const char* category = nullptr);
    // The CRunnable whose thread is calling, or null.
    static CRunnable* This();

    // Percent of one CPU this thread may use (1..100; 100 or more: no limit;
    // 0 counts as 1). Any thread may set it; it applies from the thread's next
    // TestDestroy(ms, awakened).
    void SetCPULimit(unsigned int percent);
    unsigned int GetCPULimit() const { return m_cpuLimit.load(); }
    // CPU time (ns) that helper threads have spent on this thread's work so
    // far; it counts against this thread's limit. Set before start; called on
    // the thread only.
    void SetHelperCpuSource(std::function<long long()> source) { m_helperCpu = std::move(source); }
    // The thread's CPU time so far, as text ("cpu 0.120 s"); after the end,
    // the time it used in all.
    wxString GetCPUTimeStr() const;

    CDom* GetDom() const { return m_dom; }
    void SetDom(CDom* dom) { m_dom = dom; }

    // Gives the thread a Lua state of its own (standard libraries opened when
    // openLibs), named name (the default chunk name of Lua()). A state that
    // exists is kept. False when no state can be created.
    bool InitLua(const wxString& name = wxString(), bool openLibs = true);
    lua_State* L() const { return m_lua; }
    // Runs a chunk in the thread's Lua state; its results stay on the stack.
    // False, with the message in error and the stack as before, when there is
    // no state or the chunk does not compile or fails.
    bool Lua(const std::string& chunk, const wxString& chunkName, wxString& error);
    // Called on every state InitLua creates (the host sets package.cpath
    // there); null: none.
    static void SetLuaSetup(void (*setup)(lua_State*));

    // Signs of life for a watchdog: the thread's waits (TestDestroy, CDom::
    // ShouldExit) stamp it, and a thread inside such a wait is alive for as
    // long as it waits; one stuck anywhere else goes quiet.
    void NoteAlive(bool waiting);
    bool AliveWithin(long long ms) const;

    bool ExitRequested() const { return m_exitRequested.load(); }
    // Consumes a pending wake-up; used by the waits of this thread.
    bool TakeWakeup() { return m_woken.exchange(false); }
    bool HasWakeup() const { return m_woken.load(); }

private:
    // Under a CPU limit, sleeps until the process's limited threads are back
    // within it (CCpuBudget).
    void ThrottleCpu();
    void LeaveCpuBudget();
    // This thread's CPU time plus its helpers'.
    long long UsedCpuNanos() const;

    wxString m_name;
    CDom* m_dom;
    lua_State* m_lua = nullptr;
    wxString m_luaName;
    bool m_traceLifecycle = false;
    unsigned int m_priority = wxPRIORITY_DEFAULT;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_exitRequested{false};
    std::atomic<bool> m_woken{false};
    std::atomic<unsigned int> m_cpuLimit{100};
    std::atomic<long long> m_aliveAtMs{0};  // steady clock; 0: never
    std::atomic<bool> m_waiting{false};
    // Where start() and join() are; guarded by m_joinLock, which is never held
    // across a wxThread call: on the main thread wxThread::Wait releases and
    // retakes wx's own GUI mutex, which the main thread holds otherwise.
    enum class JoinState { Idle, Starting, Started, Joining, Joined };
    std::mutex m_joinLock;
    std::condition_variable m_joinChanged;
    JoinState m_joinState = JoinState::Idle;
    void SetJoinState(JoinState state);
    // Thread CPU clock, valid while the thread runs; the total once it ended.
    clockid_t m_cpuClock{};
    std::atomic<bool> m_cpuClockValid{false};
    std::atomic<long long> m_finalCpuNs{-1};
    std::function<long long()> m_helperCpu;
    // CPU time (own and helpers') already spent from the budget; -1: not
    // spending from it. Only the thread itself touches it.
    long long m_budgetCounted = -1;
};

}  // namespace KvoCore
