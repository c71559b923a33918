// Fixture of the control-loop and orchestration tests: the agent in unit-test
// mode ("app.mode.unittest", "zel.im.unittest.iterations"), a real si.db with
// a connection of the test's own, control thread objects whose scanners are
// CLoopTestScanner, and readers of rows, agent events and the log.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "plugins/im/SqlEntity.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "tests/unit/im/LoopRunner.h"
#include "tests/unit/im/LoopTestScanner.h"
#include "tests/unit/im/ScannerFrameworkTestSupport.h"

namespace KvoTest {

using KvoPluginIm::CSystemIntegrityThread;

class ControlLoopFixture : public ScannerFrameworkFixture {
protected:
    void SetUp() override {
        ScannerFrameworkFixture::SetUp();
        if (HasFatalFailure()) return;
        m_dom->Set("zel.im.featureOn", true);
        m_dom->Set("app.mode.unittest", true);
        CSystemIntegrityThread::s_WarnedOfLowDiskMb = 0;
    }

    // A control thread object whose scanners are CLoopTestScanner.
    std::unique_ptr<CSystemIntegrityThread> NewControl() {
        auto control = std::make_unique<CSystemIntegrityThread>();
        control->SetScannerFactory([this](KvoCore::CDom& dom, KvoCore::CRunnable* parent,
                                          KvoPluginIm::CSqlSubscan* subscan) -> KvoPluginIm::CIntegrityScanThread* {
            ++m_scanners.created;
            {
                std::lock_guard<std::mutex> guard(m_scanners.lock);
                m_scanners.types.push_back(subscan->m_entityType);
                m_scanners.handedSteps.push_back(subscan->m_scanStep);
            }
            return new CLoopTestScanner(dom, parent, subscan, m_scanners);
        });
        return control;
    }

    // main() in unit-test mode for these iterations, or until condition holds
    // (bounded), when the loop is asked to stop.
    void RunLoopUntil(CSystemIntegrityThread& control, const std::function<bool()>& condition,
                      long long iterations = 1000000LL) {
        m_dom->Set("zel.im.unittest.iterations", iterations);
        CLoopRunner runner(m_dom, control);
        ASSERT_TRUE(runner.start());
        const bool reached = WaitUntil([&] { return condition ? condition() : !runner.isRunning(); });
        runner.requestExit();
        runner.join();
        ASSERT_TRUE(reached) << "the loop never got there";
    }
    void RunLoop(CSystemIntegrityThread& control, long long iterations) { RunLoopUntil(control, nullptr, iterations); }

    bool ScanClosed(long long scanId) {
        return QueryNumber(wxString::Format("SELECT [endTime] FROM [Scans] WHERE [scanId]=%lld;", scanId)) > 0;
    }

    static bool WaitUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds timeout = std::chrono::seconds(120)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    // The rule element of the configuration, with AgentConfiguration attributes.
    void Configure(const std::string& agentAttributes, const std::string& rules) {
        std::ofstream out(m_dir.file("config.xml"));
        out << "<SecurityConfiguration><AgentConfiguration " << agentAttributes << "/><IntegrityRules>" << rules
            << "</IntegrityRules></SecurityConfiguration>\n";
        out.close();
        wxString error;
        ASSERT_TRUE(m_dom->ConfigReload(error)) << error;
    }

    long long AddScanRow(int type, long long startTime, long long endTime = 0, long long startingId = 0) {
        const wxString end = endTime > 0 ? wxString::Format("%lld", endTime) : wxString("NULL");
        m_db->ExecuteUpdate(wxString::Format("INSERT INTO [Scans] ([startTime],[endTime],"
                                             "[startingHighestExistingEntityId],[incrementalScan]) "
                                             "VALUES (%lld,%s,%lld,%d);",
                                             startTime, end, startingId, type));
        return m_db->GetLastRowId().GetValue();
    }

    long long AddSubscanOf(long long scanId, const wxString& entityType, int step = 0) {
        m_db->ExecuteUpdate(wxString::Format(
            "INSERT INTO [Subscans] ([scanId],[entityType],[scanStep]) VALUES (%lld,'%s',%d);", scanId, entityType,
            step));
        return m_db->GetLastRowId().GetValue();
    }

    void AddEntitySet(const wxString& table, long long ruleId, bool onChange = true) {
        m_db->ExecuteUpdate(wxString::Format("INSERT INTO [%s] ([integrityRuleId],[onChange]) VALUES (%lld,%d);",
                                             table, ruleId, onChange ? 1 : 0));
    }

    void AddRuleRow(long long ruleId, const wxString& name, bool allowOnChange) {
        m_db->ExecuteUpdate(
            wxString::Format("INSERT INTO [IntegrityRules] ([integrityRuleId],[name],[allowOnChange]) "
                             "VALUES (%lld,'%s',%d);",
                             ruleId, name, allowOnChange ? 1 : 0));
    }

    long long AddEntity(long long entityId, long long ruleId, bool eventDropped = false) {
        m_db->ExecuteUpdate(wxString::Format(
            "INSERT INTO [Entitys] ([entityId],[entityType],[integrityRuleId],[key],[eventDropped]) "
            "VALUES (%lld,'User',%lld,'u%lld',%d);",
            entityId, ruleId, entityId, eventDropped ? 1 : 0));
        return entityId;
    }

    long long QueryNumber(const wxString& sql) {
        wxSQLite3ResultSet rows = m_db->ExecuteQuery(sql);
        return rows.NextRow() && !rows.IsNull(0) ? rows.GetInt64(0).GetValue() : -1;
    }

    std::vector<long long> QueryNumbers(const wxString& sql) {
        std::vector<long long> numbers;
        wxSQLite3ResultSet rows = m_db->ExecuteQuery(sql);
        while (rows.NextRow()) numbers.push_back(rows.IsNull(0) ? -1 : rows.GetInt64(0).GetValue());
        return numbers;
    }

    size_t LogCount(const std::string& text) const {
        const std::string log = LogText();
        size_t count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
        return count;
    }

    long long ConditionCount(const char* name) const {
        long long count = 0;
        m_dom->ConditionQuery(name, count);
        return count;
    }

    bool Flag(const char* key) const {
        bool value = false;
        return m_dom->Get(key, value) && value;
    }

    CLoopTestScanner::Shared m_scanners;
};

}  // namespace KvoTest
