// The attribute step and baseline recording on a real si.db: batches per key,
// attribute rows and hashes, retries of a failing key, retiring the versions a
// baseline replaces, and the checkpoint order.
#include <wx/wxsqlite3.h>

#include <algorithm>

#include "core/Utilities.h"
#include "tests/unit/im/ScannerFrameworkTestSupport.h"

namespace KvoTest {
namespace {

using Step = CIntegrityScanThread::ScanStep;

const std::string kSha1OfNothing = "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709";

class ScannerGatherTest : public ScannerFrameworkFixture {
protected:
    void SetUp() override {
        ScannerFrameworkFixture::SetUp();
        if (HasFatalFailure()) return;
        m_db->ExecuteUpdate(
            "INSERT INTO [IntegrityRules] ([integrityRuleId],[name],[severity]) VALUES (1,'One',2),(2,'Two',3);");
    }

    // A user set of rule that monitors the given columns ("monitorFullName, monitorLogonShell").
    void AddUserSet(long long setId, long long ruleId, const std::string& monitored = "") {
        std::string columns, values;
        std::stringstream in(monitored);
        for (std::string column; std::getline(in >> std::ws, column, ',');) {
            columns += ",[" + column + "]";
            values += ",1";
        }
        m_db->ExecuteUpdate(wxString::Format("INSERT INTO [UserSets] ([entitySetId],[integrityRuleId]%s) "
                                             "VALUES (%lld,%lld%s);",
                                             columns, setId, ruleId, values));
    }

    // An entity row left by an earlier scan; supercededBy "NULL" for a current one.
    long long AddOldEntity(const char* type, long long setId, long long ruleId, const char* key,
                           const char* supercededBy = "NULL") {
        m_db->ExecuteUpdate(wxString::Format(
            "INSERT INTO [Entitys] ([entityType],[entitySetId],[integrityRuleId],[keyCanonical],[key],"
            "[attributeHash],[supercededBy]) VALUES ('%s',%lld,%lld,'%s','%s',X'00',%s);",
            type, setId, ruleId, key, key, supercededBy));
        return m_db->GetLastRowId().GetValue();
    }

    // Runs a scan of scanType from step 0 with every step hook of the base.
    std::unique_ptr<CScriptedScanThread> RunScan(int scanType, const HostScript& host,
                                                 const std::string& ruleScope = "") {
        const long long scanId = AddScan(scanType);
        if (!ruleScope.empty())
            m_db->ExecuteUpdate(wxString::Format(
                "INSERT INTO [ScanIntegrityRuleIds] ([scanId],[integrityRuleId]) VALUES (%lld,%s);", scanId,
                ruleScope));
        m_subscanId = AddSubscan(scanId, 0);
        HookScript script;
        script.baseHooks = {100000, 200000, 300000, 400000};
        auto scanner = NewScanner(m_subscanId, Step::StepInit, script, host);
        m_highestAtStart = Scalar(*m_db, "SELECT IFNULL(MAX([entityId]),0) FROM [Entitys];");
        scanner->SetHighestEntityIdAtStartOfScan(m_highestAtStart);
        Run(*scanner);
        return scanner;
    }

    // The row the scan recorded for key in set.
    long long NewEntityId(long long setId, const char* key) {
        return Scalar(*m_db, wxString::Format("SELECT [entityId] FROM [Entitys] WHERE [entitySetId]=%lld AND "
                                              "[keyCanonical]='%s' AND [entityId]>%lld;",
                                              setId, key, m_highestAtStart));
    }
    std::string HashOf(long long entityId) {
        return Text(*m_db, wxString::Format("SELECT hex([attributeHash]) FROM [Entitys] WHERE [entityId]=%lld;",
                                            entityId));
    }
    // The attribute hash as the database computes it over the entity's values by name.
    std::string ExpectedHash(long long entityId) {
        return Text(*m_db, wxString::Format("SELECT hex(HASH([value],'sha1')) FROM (SELECT [value] FROM "
                                            "[Attributes] WHERE [entityId]=%lld ORDER BY [name]);",
                                            entityId));
    }
    std::string SupercededBy(long long entityId) {
        return Column(*m_db, wxString::Format("SELECT [supercededBy] FROM [Entitys] WHERE [entityId]=%lld;",
                                              entityId))
            .at(0);
    }
    // name=value|friendly|internal of each attribute row of the entity, by name.
    std::vector<std::string> AttributesOf(long long entityId) {
        return Column(*m_db, wxString::Format("SELECT [name]||'='||[value]||'|'||IFNULL([friendlyValue],'NULL')||'|'"
                                              "||IFNULL([internalValue],'NULL') FROM [Attributes] WHERE "
                                              "[entityId]=%lld ORDER BY [name];",
                                              entityId));
    }

    static HostScript::Value Shell() { return {"/bin/sh", "shell", "internal"}; }

    long long m_subscanId = 0;
    long long m_highestAtStart = 0;
};

// A baseline records a current row per key and set with the hash of its
// attribute values, and retires the older current rows of its type within
// its rules; rows of another type, of a rule outside the scan, or already
// superseded keep their mark. The sets in which one key was found form one
// batch, and each attribute is written only for the entities whose set wants it.
TEST_F(ScannerGatherTest, BaselineRecordsCurrentVersionsInBatchesAndRetiresOlderOnes) {
    AddUserSet(1, 1, "monitorFullName, monitorLogonShell");
    AddUserSet(2, 1);
    AddUserSet(3, 2, "monitorFullName");
    AddUserSet(4, 1, "monitorFullName");
    const long long oldCurrent = AddOldEntity("User", 1, 1, "alice");
    const long long oldSuperseded = AddOldEntity("User", 1, 1, "alice", "5");
    const long long otherType = AddOldEntity("Group", 1, 1, "alice");
    const long long otherRule = AddOldEntity("User", 3, 2, "zed");
    HostScript host;
    host.keysOfSet = {{1, {"Alice", "bob"}}, {2, {"alice"}}, {3, {"zed"}}, {4, {"alice"}}};
    host.values = {{"monitorFullName", {"Name of %k", "", ""}}, {"monitorLogonShell", Shell()}};
    auto scanner = RunScan(0, host, "1");

    EXPECT_TRUE(scanner->IsFinished());
    EXPECT_EQ(999999999, Stored(m_subscanId).scanStep);
    EXPECT_EQ(3u, scanner->MatchCalls().size()) << "set 3 belongs to a rule outside the scan";
    const std::vector<GatherCall>& calls = scanner->GatherCalls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ("alice", calls[0].key);
    std::vector<long long> sets = calls[0].entitySetIds;
    std::sort(sets.begin(), sets.end());
    EXPECT_EQ((std::vector<long long>{1, 2, 4}), sets) << "each entity with the set record of its own row";
    EXPECT_EQ("bob", calls[1].key);
    EXPECT_EQ(1u, calls[1].entityIds.size());

    EXPECT_EQ((std::vector<std::string>{"fullName=Name of alice|NULL|NULL", "logonShell=/bin/sh|shell|internal"}),
              AttributesOf(NewEntityId(1, "alice")));
    EXPECT_EQ((std::vector<std::string>{"fullName=Name of alice|NULL|NULL"}), AttributesOf(NewEntityId(4, "alice")));
    for (const auto& [setId, key] : {std::pair<long long, const char*>{1, "alice"}, {1, "bob"}, {4, "alice"}}) {
        SCOPED_TRACE(key);
        const long long id = NewEntityId(setId, key);
        EXPECT_EQ(ExpectedHash(id), HashOf(id));
        EXPECT_EQ("NULL", SupercededBy(id));
    }
    EXPECT_NE(HashOf(NewEntityId(1, "alice")), HashOf(NewEntityId(1, "bob")));
    EXPECT_EQ(kSha1OfNothing, HashOf(NewEntityId(2, "alice"))) << "an entity without attributes";
    EXPECT_EQ("NULL", SupercededBy(NewEntityId(2, "alice")));
    EXPECT_EQ(0, Scalar(*m_db, wxString::Format("SELECT COUNT(*) FROM [Entitys] WHERE [whenScanned] ISNULL AND "
                                                "[entityId]>%lld;",
                                                m_highestAtStart)));

    EXPECT_EQ("-1", SupercededBy(oldCurrent));
    EXPECT_EQ("5", SupercededBy(oldSuperseded));
    EXPECT_EQ("NULL", SupercededBy(otherType));
    EXPECT_EQ("NULL", SupercededBy(otherRule));
    EXPECT_EQ(std::string::npos, AgentEvents().find("3010|"));
}

// A key whose recording keeps failing is given up after six attempts, each
// reported; the keys around it are recorded once, as if nothing had failed,
// and the given-up key keeps its current version: unread is not deleted.
TEST_F(ScannerGatherTest, KeyFailingSixTimesIsSkippedAndTheNextKeyRecorded) {
    AddUserSet(1, 1, "monitorFullName");
    const long long oldBob = AddOldEntity("User", 1, 1, "bob");
    HostScript host;
    host.keysOfSet = {{1, {"alice", "bob", "carol"}}};
    host.values = {{"monitorFullName", {"Name of %k", "", ""}}};
    host.failingKeys = {"bob"};
    auto scanner = RunScan(1, host);

    EXPECT_TRUE(scanner->IsFinished());
    EXPECT_EQ(999999999, Stored(m_subscanId).scanStep);
    int bobCalls = 0;
    for (const GatherCall& call : scanner->GatherCalls()) bobCalls += call.key == "bob";
    EXPECT_EQ(6, bobCalls);
    for (const char* key : {"alice", "carol"}) {
        SCOPED_TRACE(key);
        const long long id = NewEntityId(1, key);
        EXPECT_EQ(1u, AttributesOf(id).size());
        EXPECT_EQ(ExpectedHash(id), HashOf(id));
    }
    EXPECT_EQ("NULL", SupercededBy(oldBob));
    EXPECT_EQ(1, Scalar(*m_db, "SELECT COUNT(*) FROM [Entitys] WHERE [keyCanonical]='bob';"));
    EXPECT_EQ(0, Scalar(*m_db, "SELECT COUNT(*) FROM [IntegrityEvents] WHERE [change]<>1;"));

    const std::string events = AgentEvents();
    size_t reported = 0;
    const std::string event = "3010|User scanner accessing si.db for bob: ";
    for (size_t at = events.find(event); at != std::string::npos; at = events.find(event, at + 1)) ++reported;
    EXPECT_EQ(6u, reported);
    EXPECT_NE(std::string::npos, LogText().find("Giving up on User 'bob' after 6 consecutive failures"));
    EXPECT_NE(std::string::npos, events.find("3010|User scanner gave up on bob after 6 consecutive failures"));
    EXPECT_EQ(std::string::npos, events.find("scan aborted"));
}

struct CheckpointCase {
    int step;
    const char* checkpoint;  // nullptr: none
    long long setId;
    const char* key;
    int expected;
};

TEST_F(ScannerGatherTest, CheckpointComparesSetThenKeyInKeyOrder) {
    const std::vector<CheckpointCase> cases = {
        {200000, "12:bob", 12, "alice", 1},  {200000, "12:bob", 12, "BOB", 0},   {200000, "12:bob", 12, "carol", -1},
        {200000, "12:bob", 15, "alice", -3}, {200000, "20:bob", 12, "zed", 8},   {200000, nullptr, 12, "alice", -1},
        {200000, "0:bob", 12, "alice", 0},   {200000, ":bob", 12, "alice", 0},   {200000, "x12:bob", 12, "alice", 0},
        {200000, "12", 12, "alice", 0},      {300000, "12:bob", 12, "alice", 0},
    };
    auto scanner = NewScanner(AddSubscan(AddScan(0), 0), Step::StepInit);
    for (const CheckpointCase& c : cases) {
        SCOPED_TRACE(std::string(c.checkpoint ? c.checkpoint : "(none)") + " / " + c.key);
        scanner->Subscan().m_checkpointInfo = c.checkpoint ? c.checkpoint : "";
        KvoPluginIm::CSqlUserEntitySet set;
        set.m_entitySetId = c.setId;
        EXPECT_EQ(c.expected, scanner->CompareCheckpointInfoToEntity(c.step, set, c.key));
    }

    wxArrayString keys;
    for (const char* key : {"b", "C", "a"}) keys.Add(key);
    scanner->SortKeys(keys);
    EXPECT_EQ("a b C", wxJoin(keys, ' ')) << "user names ignore case";
}

}  // namespace
}  // namespace KvoTest
