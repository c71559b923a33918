// External entities on the file scanner's queue, as a test-external scan
// receives them: what is recorded, when the step ends, and a hand-over
// that is stopped during its wait and restarted.
#include "core/Runnable.h"
#include "plugins/im/StateKeys.h"
#include "tests/unit/WaitUntil.h"
#include "tests/unit/im/FileScannerFixture.h"

namespace {

using KvoTest::FileScannerFixture;

const char kQueue[] = "zel.im.ExternalEntity.File";

class FileScannerExternalTest : public FileScannerFixture {
protected:
    void SetUp() override {
        FileScannerFixture::SetUp();
        if (HasFatalFailure()) return;
        m_dom->Set(KvoPluginIm::Keys::kTestExternalEntities, true);
        StoreSet("<FileSet base=\"" + m_tree + "\"><Include key=\"**/*\"/><Attributes><sha256/></Attributes></FileSet>");
    }
    std::string Record(const std::string& key, const std::string& attributes = "") {
        return "<Entity entityType=\"File\" entitySetId=\"" + Value("SELECT entitySetId FROM FileSets") +
               "\" integrityRuleId=\"1\" keyCanonical=\"" + key + "\" key=\"" + key + "\"><Attributes>" + attributes +
               "</Attributes></Entity>";
    }
    void Send(const std::string& data) { m_dom->MsgBusEnqueue(kQueue, data); }
    void SendEnd() { Send("<Entity entityType=\"File\" keyCanonical=\"\"/>"); }
    // "value/friendlyValue" of the attribute of key's newest row.
    std::string Stored(const std::string& key, const std::string& name) {
        const auto rows = Rows("SELECT value, friendlyValue FROM Attributes WHERE name='" + name +
                               "' AND entityId=(SELECT MAX(entityId) FROM Entitys WHERE [key]='" + key + "')");
        return rows.empty() ? "none" : rows[0].at("value") + "/" + rows[0].at("friendlyValue");
    }
};

TEST_F(FileScannerExternalTest, RecordsWhatArrivesUntilTheEndMarkerAndSkipsGarbledMessages) {
    Send("not an entity");
    Send(Record("/img/a",
                "<Attribute name=\"sha256\" value=\"ABCDEF01\"/><Attribute name=\"flags\" value=\"33\"/>"
                "<Attribute name=\"flagsAll\" value=\"33\"/><Attribute name=\"growing\" value=\"x\" internalValue=\"5\"/>"));
    SendEnd();
    Send(Record("/img/after-the-end"));

    RunScan("File");

    EXPECT_TRUE(m_lastFinished);
    EXPECT_EQ(std::vector<std::string>{"/img/a"}, RecordedKeys("File"));
    const std::pair<const char*, const char*> expected[] = {
        {"sha256", "abcdef01/NULL"}, {"flags", "1/Readonly"}, {"flagsAll", "33/Readonly,Archived"},
        {"growing", "true/NULL"}};
    for (const auto& [name, value] : expected) EXPECT_EQ(value, Stored("/img/a", name)) << name;
    EXPECT_NE(std::string::npos, LogText().find("Error parsing external entity data - ignoring it"));
    std::string left;
    EXPECT_TRUE(m_dom->MsgBusDequeue(kQueue, 0, left) && left == Record("/img/after-the-end")) << left;
}

TEST_F(FileScannerExternalTest, AMaxDequeueErrorsBelowOneAllowsSixtyFourEmptyWakeUps) {
    m_dom->Set(KvoPluginIm::Keys::kMaxDequeueErrors, 0LL);
    for (const int wakeUps : {63, 64}) {
        for (int i = 0; i < wakeUps; ++i) m_dom->MsgBusWake(kQueue);
        Send(Record("/img/w" + std::to_string(wakeUps)));
        SendEnd();
        RunScan("File");
        const bool aborted = LogText().find("64 consecutive wake-ups of CDom::MsgBusDequeue() without data") !=
                             std::string::npos;
        EXPECT_EQ(wakeUps == 64, aborted) << wakeUps;
        EXPECT_EQ(wakeUps == 64, RecordedKeys("File").empty()) << wakeUps;
        std::string rest;
        while (m_dom->MsgBusDequeue(kQueue, 0, rest)) {}
    }
}

TEST_F(FileScannerExternalTest, AStopDuringTheWaitKeepsTheStepAndTheRestartDropsWhatHadArrived) {
    std::unique_ptr<KvoPluginIm::CIntegrityScanThread> scanner = StartScan("File", 0);
    Send(Record("/img/half"));
    const std::string after = std::to_string(m_highestBefore);
    EXPECT_TRUE(KvoTest::WaitUntil([&] { return Value("SELECT COUNT(*) FROM Entitys WHERE entityId>" + after) == "1"; }));
    KvoCore::CRunnable::StopThread(scanner.get());
    EXPECT_EQ("350000", Value("SELECT scanStep FROM Subscans"));

    scanner = ResumeScan();
    EXPECT_TRUE(KvoTest::WaitUntil([&] { return Value("SELECT scanStep FROM Subscans") == "350000" &&
                                                Value("SELECT COUNT(*) FROM Entitys WHERE entityId>" + after) == "0"; }));
    SendEnd();
    scanner->join();
    EXPECT_TRUE(scanner->IsFinished());
    EXPECT_TRUE(RecordedKeys("File").empty());
}

}  // namespace
