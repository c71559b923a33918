// The scanner's step loop on a real si.db: which hooks run in which order, what
// the subscan row holds after every step, how a scan ends or is left to retry.
#include "tests/unit/im/ScannerFrameworkTestSupport.h"

namespace KvoTest {
namespace {

using Step = CIntegrityScanThread::ScanStep;

class ScannerStepsTest : public ScannerFrameworkFixture {};

int Count(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

struct SequenceCase {
    const char* name;
    int scanType;
    std::map<int, int> next;
    std::vector<int> hooks;  // steps whose hooks run after OnInit, in order
};

// Every scan type walks its steps, each hook finding the row saved with its
// own step and no checkpoint; the row that an earlier, interrupted run left
// at a later step with a checkpoint starts over from OnInit.
TEST_F(ScannerStepsTest, EachScanTypeRunsItsStepsAndStoresEveryStep) {
    const std::vector<SequenceCase> cases = {
        {"baseline", 0, {}, {100000, 200000, 300000, 400000}},
        {"incremental", 1, {}, {100000, 200000, 300000, 400000}},
        {"real-time changes", 2, {}, {250000, 400000}},
        {"pseudo-real-time", 3, {}, {100000, 200000, 300000, 400000}},
        {"matching hands over to external entities", 0, {{200000, 350000}}, {100000, 200000, 350000, 400000}},
    };
    for (const SequenceCase& c : cases) {
        SCOPED_TRACE(c.name);
        const long long subscanId = AddSubscan(AddScan(c.scanType), 300000, "7:/etc/passwd");
        HookScript script;
        script.next = c.next;
        auto scanner = NewScanner(subscanId, Step::StepInit, script);
        Run(*scanner);

        std::vector<HookVisit> expected;
        for (int step : c.hooks) expected.push_back({step, step, true});
        EXPECT_EQ(expected, scanner->Visits());
        const StoredSubscan stored = Stored(subscanId);
        EXPECT_EQ(999999999, stored.scanStep);
        EXPECT_TRUE(stored.checkpointNull);
        EXPECT_FALSE(stored.startTimeNull);
        EXPECT_FALSE(stored.endTimeNull);
        EXPECT_TRUE(scanner->IsFinished());
        EXPECT_EQ(c.scanType, scanner->GetScanType());
    }
    EXPECT_NE(std::string::npos, LogText().find("Normal exit - CSqlSubscan::Finished"));
}

struct AbortCase {
    const char* name;
    int scanType;
    HookScript script;
    std::string logged;  // the error that names the cause
};

// A failed step aborts the scan for good: agent event 3010 and the subscan
// marked finished, so the control thread does not run it again.
TEST_F(ScannerStepsTest, FailedStepAbortsTheScan) {
    HookScript unknownStep;
    unknownStep.next = {{200000, 123456}};
    const std::vector<AbortCase> cases = {
        {"unknown step", 0, unknownStep,
         "CIntegrityScanThread - unknown step number 123456 for CScriptedScanThread integrity scan thread."},
    };
    int aborted = 0;
    for (const AbortCase& c : cases) {
        SCOPED_TRACE(c.name);
        const long long subscanId = AddSubscan(AddScan(c.scanType), 0);
        auto scanner = NewScanner(subscanId, Step::StepInit, c.script);
        Run(*scanner);
        ++aborted;
        EXPECT_TRUE(scanner->IsFinished());
        const StoredSubscan stored = Stored(subscanId);
        EXPECT_EQ(999999999, stored.scanStep);
        EXPECT_TRUE(stored.checkpointNull);
        EXPECT_TRUE(stored.endTimeNull) << "an aborted scan never reached its end";
        EXPECT_NE(std::string::npos, LogText().find(c.logged));
        EXPECT_EQ(aborted, Count(AgentEvents(), "3010|User scan aborted\n"));
    }
    EXPECT_NE(std::string::npos, LogText().find("Exit because a scan step failed."));
}

// A database error inside a step: the open transaction is rolled back and the
// subscan keeps the step it was in, so that the control thread retries it.
TEST_F(ScannerStepsTest, DatabaseErrorInStepRollsBackAndLeavesSubscanToRetry) {
    const long long subscanId = AddSubscan(AddScan(0), 0);
    HookScript script;
    script.throwDbAt = 200000;
    auto scanner = NewScanner(subscanId, Step::StepInit, script);
    Run(*scanner);
    EXPECT_FALSE(scanner->IsFinished());
    EXPECT_EQ(200000, Stored(subscanId).scanStep);
    EXPECT_EQ(0, Scalar(*m_db, "SELECT COUNT(*) FROM [Scans] WHERE [startTime]=4242;"));
    EXPECT_NE(std::string::npos, LogText().find("no such table: NoSuchTable"));
    EXPECT_NE(std::string::npos, LogText().find("Exit because of an uncaught exception."));
    EXPECT_EQ(std::string::npos, AgentEvents().find("3010|"));
}

TEST_F(ScannerStepsTest, OtherExceptionReachesTheThreadBaseUnfinished) {
    const long long subscanId = AddSubscan(AddScan(0), 0);
    HookScript script;
    script.throwStdAt = 300000;
    auto scanner = NewScanner(subscanId, Step::StepInit, script);
    Run(*scanner);
    EXPECT_FALSE(scanner->IsFinished());
    EXPECT_EQ(300000, Stored(subscanId).scanStep);
    EXPECT_NE(std::string::npos, LogText().find("scripted failure"));
}

// A scanner whose connection cannot open leaves its subscan as it was, so the
// scan is retried once the database is back.
TEST_F(ScannerStepsTest, RunWithoutDatabaseLeavesSubscanUntouched) {
    const long long subscanId = AddSubscan(AddScan(0), 300000, "3:x");
    m_dom->Set("zel.im.dbPath", m_dir.file("missing/si.db"));
    auto scanner = NewScanner(subscanId, Step::StepInit);
    Run(*scanner);
    EXPECT_FALSE(scanner->IsFinished());
    const StoredSubscan stored = Stored(subscanId);
    EXPECT_EQ(300000, stored.scanStep);
    EXPECT_EQ("3:x", stored.checkpointInfo);
    EXPECT_EQ(std::string::npos, AgentEvents().find("3010|"));
}

}  // namespace
}  // namespace KvoTest
