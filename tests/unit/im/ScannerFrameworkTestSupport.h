// Shared by the scanner framework tests: a scanner of user entities whose step
// hooks follow a script, and a fixture with the agent, a real si.db holding
// scan and subscan rows, and helpers to run a scanner on its own thread.
#pragma once

#include <gtest/gtest.h>
#include <wx/wxsqlite3.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/SqlScan.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SqlUserEntitySet.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "tests/unit/SqliteTestSupport.h"
#include "tests/unit/im/ControlThreadFixture.h"

namespace KvoTest {

using KvoPluginIm::CIntegrityScanThread;

// A one-shot signal between threads.
class Latch {
public:
    void Set() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_set = true;
        m_changed.notify_all();
    }
    // False when not set within the (generous) timeout.
    bool Wait(std::chrono::seconds timeout = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_set; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set = false;
};

// What a scripted hook does besides recording its visit.
struct HookScript {
    std::set<int> baseHooks;  // steps whose hook runs the base class's version
    std::map<int, int> next;  // next step to set instead of the usual one
    int blockAt = -1;         // hook that waits until the scanner must shut down
    int throwDbAt = -1;       // hook that opens a transaction, writes, and hits a database error
    int throwStdAt = -1;      // hook that throws a std::exception
};

// A hook's visit: its step and what the subscan row held when it began.
struct HookVisit {
    int step;
    int storedStep;
    bool storedCheckpointNull;
    bool operator==(const HookVisit& other) const {
        return step == other.step && storedStep == other.storedStep &&
               storedCheckpointNull == other.storedCheckpointNull;
    }
};

inline std::ostream& operator<<(std::ostream& out, const HookVisit& visit) {
    return out << "{" << visit.step << ", stored " << visit.storedStep
               << (visit.storedCheckpointNull ? ", no checkpoint}" : ", checkpoint}");
}

class CScriptedScanThread : public CIntegrityScanThread {
public:
    static constexpr const char* s_Trace = "zel.im.scanner.user";

    CScriptedScanThread(KvoCore::CDom& dom, KvoPluginIm::CSqlSubscan* subscan, HookScript script = {})
        : CIntegrityScanThread(dom, subscan), m_script(std::move(script)) {}

    wxString GetThreadName() const override { return "CScriptedScanThread"; }
    KvoPluginIm::CSqlEntitySet* CreateEntitySetObject() const override { return new KvoPluginIm::CSqlUserEntitySet(); }
    KvoCore::XMLObjectList* CreateEntitySetCollection() const override { return new KvoPluginIm::CSqlUserEntitySets(); }
    const char* GetTraceMask() const override { return s_Trace; }

    bool OnResetSupersededBy() override {
        return Hook(StepResetSupersededBy, StepMatchEntities,
                    [this] { return CIntegrityScanThread::OnResetSupersededBy(); });
    }
    bool OnMatchEntities() override {
        return Hook(StepMatchEntities, StepGatherAttributeValues,
                    [this] { return CIntegrityScanThread::OnMatchEntities(); });
    }
    bool OnProcessRealtimeChanges() override {
        return Hook(StepProcessRealtimeChanges, StepScanPostProcessing,
                    [this] { return CIntegrityScanThread::OnProcessRealtimeChanges(); });
    }
    bool OnGatherAttributeValues() override {
        return Hook(StepGatherAttributeValues, StepScanPostProcessing,
                    [this] { return CIntegrityScanThread::OnGatherAttributeValues(); });
    }
    bool OnProcessExternalEntities() override {
        return Hook(StepProcessExternalEntities, StepScanPostProcessing,
                    [this] { return CIntegrityScanThread::OnProcessExternalEntities(); });
    }
    bool OnScanPostProcessing() override {
        return Hook(StepScanPostProcessing, StepFinished,
                    [this] { return CIntegrityScanThread::OnScanPostProcessing(); });
    }

    const std::vector<HookVisit>& Visits() const { return m_visits; }
    Latch& Blocked() { return m_blocked; }

    // Members of the base that the tests look into.
    using CIntegrityScanThread::Db;
    using CIntegrityScanThread::LoadEntitySetsInScope;
    using CIntegrityScanThread::m_entitySetIdsInScope;
    using CIntegrityScanThread::m_ruleIdsInScope;
    using CIntegrityScanThread::Statements;
    using CIntegrityScanThread::Stmt;

private:
    bool Hook(int step, int usualNext, const std::function<bool()>& base) {
        m_visits.push_back(Stored(step));
        if (m_script.baseHooks.count(step)) return base();
        if (step == m_script.blockAt) {
            m_blocked.Set();
            // Bounded, so that a shutdown that never comes fails the test instead of hanging it.
            for (int i = 0; i < 3000 && !ShouldShutdown(); ++i) TestDestroy(20, nullptr);
            return true;
        }
        if (step == m_script.throwDbAt) {
            Db().Begin();
            m_inTransaction = true;
            Db().ExecuteUpdate("INSERT INTO [Scans] ([startTime]) VALUES (4242);");
            Db().ExecuteUpdate("SELECT * FROM [NoSuchTable];");
        }
        if (step == m_script.throwStdAt) throw std::runtime_error("scripted failure");
        auto next = m_script.next.find(step);
        SetNextStep(next == m_script.next.end() ? usualNext : next->second);
        return true;
    }

    HookVisit Stored(int step) {
        wxSQLite3ResultSet row = Db().ExecuteQuery(wxString::Format(
            "SELECT [scanStep], [checkpointInfo] FROM [Subscans] WHERE [subscanId]=%lld;", Subscan().m_subscanId));
        if (!row.NextRow()) return {step, -1, false};
        return {step, row.GetInt(0), row.IsNull(1)};
    }

    HookScript m_script;
    std::vector<HookVisit> m_visits;
    Latch m_blocked;
};

// One subscan row as the database holds it.
struct StoredSubscan {
    int scanStep = -1;
    bool checkpointNull = false;
    wxString checkpointInfo;
    bool startTimeNull = true;
    bool endTimeNull = true;
};

class ScannerFrameworkFixture : public ControlThreadFixture {
protected:
    void SetUp() override {
        ControlThreadFixture::SetUp();
        if (HasFatalFailure()) return;
        m_db = std::make_unique<KvoCore::CSqliteDatabase>(*m_dom, "test");
        ASSERT_TRUE(m_db->Open(Path("si.db"), 1, "WAL", true, false));
        m_dom->Set("zel.im.dbPath", m_dir.file("si.db"));
        KvoCore::LogSetTraceCategories(CScriptedScanThread::s_Trace);
    }
    void TearDown() override {
        KvoCore::LogSetTraceCategories("");
        m_db.reset();
        ControlThreadFixture::TearDown();
    }

    // A scan row of the given type; returns its scanId.
    long long AddScan(int scanType) {
        KvoPluginIm::CSqlScan scan;
        scan.m_startTime = 1000;
        scan.SetAttributeNull(&scan.m_startTime, false);
        scan.m_incrementalScan = scanType;
        scan.SetAttributeNull(&scan.m_incrementalScan, false);
        scan.SQLInsert(*m_db);
        return scan.m_scanId;
    }

    // A subscan row of user entities, as an interrupted scan may leave it.
    long long AddSubscan(long long scanId, int scanStep, const wxString& checkpoint = wxString()) {
        KvoPluginIm::CSqlSubscan subscan;
        subscan.m_scanId = scanId;
        subscan.SetAttributeNull(&subscan.m_scanId, false);
        subscan.m_entityType = "User";
        subscan.SetAttributeNull(&subscan.m_entityType, false);
        subscan.m_scanStep = scanStep;
        subscan.SetAttributeNull(&subscan.m_scanStep, false);
        if (!checkpoint.empty()) {
            subscan.m_checkpointInfo = checkpoint;
            subscan.SetAttributeNull(&subscan.m_checkpointInfo, false);
        }
        subscan.SQLInsert(*m_db);
        return subscan.m_subscanId;
    }

    // The subscan row loaded as the control thread loads it, with the step it
    // hands to a new scanner (the control thread gives queued ones 0).
    std::unique_ptr<KvoPluginIm::CSqlSubscan> LoadSubscan(long long subscanId, int step) {
        auto subscan = std::make_unique<KvoPluginIm::CSqlSubscan>();
        wxSQLite3ResultSet row =
            m_db->ExecuteQuery(wxString::Format("SELECT * FROM [Subscans] WHERE [subscanId]=%lld;", subscanId));
        EXPECT_TRUE(row.NextRow());
        subscan->SQLLoad(row);
        subscan->m_scanStep = step;
        return subscan;
    }

    std::unique_ptr<CScriptedScanThread> NewScanner(long long subscanId, int step, HookScript script = {}) {
        return std::make_unique<CScriptedScanThread>(*m_dom, LoadSubscan(subscanId, step).release(), std::move(script));
    }

    // Starts the scanner and waits for its end.
    static void Run(CIntegrityScanThread& scanner) {
        ASSERT_TRUE(scanner.start());
        scanner.join();
        ASSERT_FALSE(scanner.isRunning());
    }

    StoredSubscan Stored(long long subscanId) {
        StoredSubscan stored;
        wxSQLite3ResultSet row = m_db->ExecuteQuery(wxString::Format(
            "SELECT [scanStep], [checkpointInfo], [startTime], [endTime] FROM [Subscans] WHERE [subscanId]=%lld;",
            subscanId));
        if (!row.NextRow()) return stored;
        stored.scanStep = row.GetInt(0);
        stored.checkpointNull = row.IsNull(1);
        stored.checkpointInfo = row.GetString(1);
        stored.startTimeNull = row.IsNull(2);
        stored.endTimeNull = row.IsNull(3);
        return stored;
    }

    std::string LogText() const { return ReadFile(m_dir.file("work/kvo-agent.log")); }
    std::string AgentEvents() const { return ReadFile(m_dir.file("work/agent-events.log")); }

    std::unique_ptr<KvoCore::CSqliteDatabase> m_db;
};

}  // namespace KvoTest
