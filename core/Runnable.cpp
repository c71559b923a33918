#include "core/Runnable.h"

#include <pthread.h>
#include <unistd.h>

#include <climits>
#include <exception>

#include <lua.hpp>

#include "core/CpuBudget.h"
#include "core/Dom.h"
#include "core/Log.h"
#include "core/WakeHub.h"
#include "core/StateKeys.h"
#include "core/Utilities.h"

namespace KvoCore {
namespace {

thread_local CRunnable* t_current = nullptr;
std::atomic<void (*)(lua_State*)> g_luaSetup{nullptr};

const char* const kThreadCategory = Keys::kTraceThread;

long long ClockNanos(clockid_t clock) {
    struct timespec t;
    if (clock_gettime(clock, &t) != 0) return -1;
    return TimespecNanos(t);
}

}  // namespace

CRunnable::CRunnable(const wxString& name, CDom* dom)
    : wxThread(wxTHREAD_JOINABLE), m_name(name), m_dom(dom) {}

CRunnable::CRunnable(bool withLua, int cpuLimitPercent, bool traceLifecycle)
    : wxThread(wxTHREAD_JOINABLE), m_dom(nullptr), m_traceLifecycle(traceLifecycle) {
    if (cpuLimitPercent >= 0) SetCPULimit(static_cast<unsigned int>(cpuLimitPercent));
    if (withLua && !InitLua()) LogError("CRunnable: cannot create a Lua state");
}

CRunnable::~CRunnable() {
    // Safety net only: by now the derived part is gone, so a thread still in
    // OnRun must not get far. The owner is expected to have stopped it.
    if (This() != this) {
        bool pending;
        {
            std::lock_guard<std::mutex> guard(m_joinLock);
            pending = m_joinState != JoinState::Idle && m_joinState != JoinState::Joined;
        }
        if (pending) {
            requestExit();
            join();
        }
    }
    if (m_lua) lua_close(m_lua);
}

bool CRunnable::TestDestroy() {
    if (m_exitRequested.load()) return true;
    CDom* dom = CDom::This();
    return dom && dom->StopRequested();
}

wxThread::ExitCode CRunnable::Entry() {
    t_current = this;
    clockid_t clock;
    if (pthread_getcpuclockid(pthread_self(), &clock) == 0) {
        m_cpuClock = clock;
        m_cpuClockValid.store(true);
    }
    m_running.store(true);

    // A thread started at lower priority gets a higher nice value (the mapping
    // wx uses: 0..100 to 20..-20). Raising it needs privileges; without them the
    // thread keeps the creator's value.
    if (m_priority != wxPRIORITY_DEFAULT) {
        int nice = 20 - (2 * static_cast<int>(m_priority)) / 5;
        if (!SetCallingThreadNice(nice))
            KVO_TRACE(kThreadCategory, "Thread %s keeps its priority (nice %d refused)",
                      GetThreadName(), nice);
    }
    if (m_traceLifecycle) KVO_TRACE(kThreadCategory, "Thread %s started", GetThreadName());

    struct Finish {
        CRunnable* self;
        ~Finish() {
            // Also on unwinding: an owner polling isRunning() must see the end.
            self->m_finalCpuNs.store(ClockNanos(CLOCK_THREAD_CPUTIME_ID));
            self->LeaveCpuBudget();
            self->m_cpuClockValid.store(false);
            self->m_running.store(false);
        }
    } finish{this};

    try {
        OnRun();
    } catch (const std::exception& e) {
        LogError(wxString::Format("Thread %s ended by an exception: %s", GetThreadName(),
                                  wxString::FromUTF8(e.what())));
    }
    if (m_traceLifecycle)
        KVO_TRACE(kThreadCategory, "Thread %s ends, %s", GetThreadName(), GetCPUTimeStr());
    return nullptr;
}

void CRunnable::Delete() {
    requestExit();
    join();
}

void CRunnable::Awaken() {
    m_woken.store(true);
    CWakeHub::Instance().NotifyAll();
}

void CRunnable::requestExit() {
    m_exitRequested.store(true);
    CWakeHub::Instance().NotifyAll();
}

void CRunnable::NoteAlive(bool waiting) {
    m_aliveAtMs = static_cast<long long>(SystemTickCount());
    m_waiting = waiting;
}

bool CRunnable::AliveWithin(long long ms) const {
    const long long at = m_aliveAtMs.load();
    return at != 0 && (m_waiting.load() || static_cast<long long>(SystemTickCount()) - at <= ms);
}

bool CRunnable::TestDestroy(unsigned int ms, bool* awakened) {
    const bool self = This() == this;
    if (self) ThrottleCpu();
    if (self) NoteAlive(ms > 0);
    bool woken;
    if (ms == 0 && awakened == nullptr) {
        // Nobody learns of a wake-up here, so it stays for the next real wait
        // (a control loop polling for a stop must not lose a scanner's wake-up).
        woken = false;
    } else {
        if (ms > 0) {
            // Looked up before the wait: the hub's lock must not nest the agent's.
            CDom* dom = CDom::This();
            CWakeHub::Instance().WaitFor(ms, [this, dom] {
                return m_exitRequested.load() || m_woken.load() || (dom && dom->StopRequested());
            });
        }
        woken = TakeWakeup();
    }
    if (self) NoteAlive(false);
    if (awakened) *awakened = woken;
    return TestDestroy();
}

bool CRunnable::start(unsigned int priority, bool joinable, unsigned int stackSize) {
    if (!joinable) {
        LogError(wxString::Format("Thread %s: agent threads are joined by their owner, "
                                  "a detached start is refused", GetThreadName()));
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(m_joinLock);
        if (m_joinState != JoinState::Idle) return false;
        m_joinState = JoinState::Starting;
    }
    m_priority = priority > 100 ? 100 : priority;
    JoinState outcome = JoinState::Idle;
    if (Create(stackSize) == wxTHREAD_NO_ERROR) {
        // Running from here on, so that an owner polling isRunning() right after
        // start() never mistakes a thread that has not been scheduled yet for one that ended.
        m_running.store(true);
        outcome = JoinState::Started;
        if (Run() != wxTHREAD_NO_ERROR) {
            m_running.store(false);
            // The created thread waits for a Run that never comes; joining it would hang.
            outcome = JoinState::Joined;
            LogError(wxString::Format("Thread %s could not be run", GetThreadName()));
        }
    }
    SetJoinState(outcome);
    return outcome == JoinState::Started;
}

void CRunnable::join() {
    if (This() == this) return;
    {
        std::unique_lock<std::mutex> lock(m_joinLock);
        // A start or another join under way settles first; then only one caller waits on the thread.
        m_joinChanged.wait(lock, [this] {
            return m_joinState != JoinState::Starting && m_joinState != JoinState::Joining;
        });
        if (m_joinState != JoinState::Started) return;
        m_joinState = JoinState::Joining;
    }
    Wait();
    SetJoinState(JoinState::Joined);
}

void CRunnable::SetJoinState(JoinState state) {
    {
        std::lock_guard<std::mutex> guard(m_joinLock);
        m_joinState = state;
    }
    m_joinChanged.notify_all();
}

void CRunnable::StopThread(CRunnable* thread, const char* category) {
    if (!thread) return;
    if (category) KVO_TRACE(category, "Stopping thread %s", thread->GetThreadName());
    thread->requestExit();
    thread->join();
    if (category)
        KVO_TRACE(category, "Thread %s stopped, %s", thread->GetThreadName(), thread->GetCPUTimeStr());
}

CRunnable* CRunnable::This() { return t_current; }

void CRunnable::SetCPULimit(unsigned int percent) {
    if (percent == 0) percent = 1;
    if (percent > 100) percent = 100;
    m_cpuLimit.store(percent);
}

void CRunnable::ThrottleCpu() {
    const unsigned int limit = m_cpuLimit.load();
    if (limit >= 100) {
        LeaveCpuBudget();
        return;
    }
    CCpuBudget& budget = CCpuBudget::Instance();
    const long long cpu = UsedCpuNanos();
    if (m_budgetCounted < 0) {
        budget.Join(ClockNanos(CLOCK_MONOTONIC));
        m_budgetCounted = cpu;
        return;
    }
    const long long sleepNs = budget.Spend(cpu - m_budgetCounted, limit, ClockNanos(CLOCK_MONOTONIC));
    m_budgetCounted = cpu;
    if (sleepNs > 0) {
        long long sleepMs = (sleepNs + 999999) / 1000000;
        if (sleepMs > UINT_MAX - 1) sleepMs = UINT_MAX - 1;
        // Only a stop ends this sleep early; a wake-up stays pending for the
        // wait that follows, or the limit would not hold for a thread woken often.
        CDom* dom = CDom::This();
        CWakeHub::Instance().WaitFor(static_cast<unsigned int>(sleepMs), [this, dom] {
            return m_exitRequested.load() || (dom && dom->StopRequested());
        });
    }
    budget.Settle(limit, ClockNanos(CLOCK_MONOTONIC));
}

void CRunnable::LeaveCpuBudget() {
    if (m_budgetCounted < 0) return;
    CCpuBudget::Instance().Leave();
    m_budgetCounted = -1;
}

long long CRunnable::UsedCpuNanos() const {
    return ClockNanos(CLOCK_THREAD_CPUTIME_ID) + (m_helperCpu ? m_helperCpu() : 0);
}

wxString CRunnable::GetCPUTimeStr() const {
    long long ns = -1;
    if (This() == this) {
        ns = ClockNanos(CLOCK_THREAD_CPUTIME_ID);
    } else if (m_cpuClockValid.load()) {
        ns = ClockNanos(m_cpuClock);
    }
    // Ended (or just ending, when its clock is gone already): the recorded total.
    if (ns < 0) ns = m_finalCpuNs.load();
    if (ns < 0) ns = 0;
    return wxString::Format("cpu %.3f s", static_cast<double>(ns) / 1e9);
}

bool CRunnable::InitLua(const wxString& name, bool openLibs) {
    if (m_lua) return true;
    lua_State* state = luaL_newstate();
    if (!state) return false;
    if (openLibs) luaL_openlibs(state);
    if (auto setup = g_luaSetup.load()) setup(state);
    m_lua = state;
    m_luaName = name;
    return true;
}

bool CRunnable::Lua(const std::string& chunk, const wxString& chunkName, wxString& error) {
    if (!m_lua) {
        error = "no Lua state (InitLua first)";
        return false;
    }
    wxString name = !chunkName.empty() ? chunkName : !m_luaName.empty() ? m_luaName : GetThreadName();
    // "=" keeps the name as given in Lua's messages.
    std::string displayName = "=" + std::string(name.utf8_str());
    int top = lua_gettop(m_lua);
    if (luaL_loadbuffer(m_lua, chunk.data(), chunk.size(), displayName.c_str()) != LUA_OK ||
        lua_pcall(m_lua, 0, LUA_MULTRET, 0) != LUA_OK) {
        const char* message = lua_tostring(m_lua, -1);
        error = message ? wxString::FromUTF8(message) : wxString("Lua error without a message");
        lua_settop(m_lua, top);
        return false;
    }
    return true;
}

void CRunnable::SetLuaSetup(void (*setup)(lua_State*)) { g_luaSetup.store(setup); }

}  // namespace KvoCore
