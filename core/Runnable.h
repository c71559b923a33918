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

#include <wx/string.h>
#include <wx/thread.h>

struct lua_State;

namespace KvoCore {

class CDom;

class CRunnable : public wxThread {
public:
    explicit CRunnable(const wxString& name = wxString(), CDom* dom = nullptr);

    // Virtual slots, in order.
    // True when the thread must stop (its own request or the agent's stop).
    virtual bool TestDestroy();
    ~CRunnable() override;
    ExitCode Entry() override;
    void OnDelete() override {}
    void OnKill() override {}
    void OnExit() override {}
    virtual void Delete();
    virtual wxString GetThreadName() const { return m_name; }
    // Ends the current or next wait of this thread (TestDestroy, CDom::ShouldExit) early.
    virtual void Awaken();
    virtual void interrupt() { Awaken(); }
    // Asks the thread to stop: TestDestroy returns true from now on.
    virtual void requestExit();
    // Applies the CPU limit, then waits at most ms for a wake-up or a stop.
    // Returns true when the thread must stop; *awakened tells a wake-up.
    virtual bool TestDestroy(unsigned int ms, bool* awakened);
    virtual void OnRun() = 0;

    bool start();
    bool isRunning() const { return m_running.load(); }
    void join();
    // Requests exit and joins; traces under category when given.
    static void StopThread(CRunnable* thread, const char* category = nullptr);
    // The CRunnable whose thread is calling, or null.
    static CRunnable* This();

    // Percent of one CPU this thread may use (1..100; 100 or more: no limit).
    void SetCPULimit(unsigned int percent);
    unsigned int GetCPULimit() const { return m_cpuLimit; }
    // The thread's CPU time so far, as text ("cpu 0.120 s").
    wxString GetCPUTimeStr() const;

    CDom* GetDom() const { return m_dom; }
    void SetDom(CDom* dom) { m_dom = dom; }

    // Gives the thread a Lua state of its own (standard libraries opened).
    bool InitLua();
    lua_State* L() const { return m_lua; }

    bool ExitRequested() const { return m_exitRequested.load(); }
    // Consumes a pending wake-up; used by the waits of this thread.
    bool TakeWakeup() { return m_woken.exchange(false); }
    bool HasWakeup() const { return m_woken.load(); }

private:
    void ThrottleCpu();

    wxString m_name;
    CDom* m_dom;
    lua_State* m_lua = nullptr;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_exitRequested{false};
    std::atomic<bool> m_woken{false};
    unsigned int m_cpuLimit = 100;
    // CPU limit accounting window (thread CPU time against wall time).
    struct timespec m_windowWallStart {};
    struct timespec m_windowCpuStart {};
    clockid_t m_cpuClock{};
    bool m_cpuClockValid = false;
};

}  // namespace KvoCore
