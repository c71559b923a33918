// Which sets of a type include one changed key, as the real-time path asks.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/Utilities.h"
#include "plugins/im/EntityTypeInfo.h"
#include "plugins/im/FileIntegrityKeyMatch.h"
#include "tests/unit/im/KeyMatchFixture.h"

namespace {

using KvoPluginIm::CEntityTypeInfo;

class KeyMatchEntityTypeInfoTest : public KvoTest::KeyMatchFixture {
protected:
    void SetUp() override {
        KeyMatchFixture::SetUp();
        if (HasFatalFailure()) return;
        Store(R"(<IntegrityRule id="1" name="conf" allowOnChange="true">
                   <FileSet base="/etc"><Include key="*.conf"/></FileSet></IntegrityRule>)");
        Store(R"(<IntegrityRule id="2" name="ssh" allowOnChange="true">
                   <FileSet base="/etc/ssh"><Include key="*"/><Exclude key="*.pub"/></FileSet></IntegrityRule>)");
        Store(R"(<IntegrityRule id="3" name="logs" allowOnChange="false"><FileSet base="/var/log"/></IntegrityRule>)");
        Store(R"(<IntegrityRule id="4" name="sites" allowOnChange="true">
                   <FileSet base="/srv/*.d"><Include key="**/*"/></FileSet></IntegrityRule>)");
    }

    void Init(CEntityTypeInfo& info, bool onChangeOnly, bool limitToScanRuleIds) {
        KvoCore::CSqliteDatabase db(*m_dom, "test");
        ASSERT_TRUE(db.OpenIntegrityDb(Path("si.db"), KvoCore::DbAccess::ReadWrite));
        info.Init(db, onChangeOnly, limitToScanRuleIds);
        db.Close();
    }
    // The rule ids of the sets that include key.
    std::set<long long> IncludingRules(const CEntityTypeInfo& info, const std::string& key, int& reason) {
        KvoCore::Int64Set ids;
        const bool included = info.IsIncluded(wxString::FromUTF8(key), static_cast<unsigned long>(-1), ids, reason);
        EXPECT_EQ(!ids.empty(), included) << key;
        std::set<long long> rules;
        for (const long long id : ids)
            rules.insert(std::stoll(Value("SELECT integrityRuleId FROM FileSets WHERE entitySetId=" + std::to_string(id))));
        return rules;
    }

    KvoPluginIm::CSqlFileEntitySets m_sets;
    KvoPluginIm::CFileIntegrityKeyMatch m_matcher{KvoCore::FileIsExecutable, wxPATH_UNIX};
};

struct IncludedCase {
    const char* key;
    std::set<long long> rules;
    int reason;
};

TEST_F(KeyMatchEntityTypeInfoTest, EverySetThatIncludesTheKeyIsReported) {
    CEntityTypeInfo info(&m_sets, &m_matcher);
    ASSERT_NO_FATAL_FAILURE(Init(info, false, false));
    ASSERT_EQ(4u, info.GetEntitySetInfos().size());
    const IncludedCase cases[] = {
        {"/etc/a.conf", {1}, 0},  // the other sets saw a key outside their bases
        {"/etc/ssh/sshd_config", {2}, 1},
        {"/etc/ssh/ssh.conf", {2}, 1},  // "*.conf" does not reach into /etc/ssh
        {"/var/log/syslog", {3}, 0},
        {"/srv/web.d/index.html", {4}, 0},
        {"/etc/passwd", {}, 2},          // right directory, wrong extension
        {"/etc/ssh/host.pub", {}, 5},    // caught by the exclude
        {"/etc/ssh/keys/a", {}, 1},
        {"/etcx.conf", {}, 0},           // /etc does not cover /etcx.conf
        {"/srv/web/index.html", {}, 0},  // outside the base expression
        {"/usr/bin/ls", {}, 0},
    };
    for (const IncludedCase& c : cases) {
        int reason = -2;
        EXPECT_EQ(c.rules, IncludingRules(info, c.key, reason)) << c.key;
        EXPECT_EQ(c.reason, reason) << c.key;
    }
}

TEST_F(KeyMatchEntityTypeInfoTest, RealTimeOnlySetsLeaveTheOthersOut) {
    CEntityTypeInfo info(&m_sets, &m_matcher);
    ASSERT_NO_FATAL_FAILURE(Init(info, true, false));
    EXPECT_EQ(3u, info.GetEntitySetInfos().size());
    int reason = -1;
    EXPECT_EQ(std::set<long long>{}, IncludingRules(info, "/var/log/syslog", reason));
    EXPECT_EQ(std::set<long long>{1}, IncludingRules(info, "/etc/a.conf", reason));
}

TEST_F(KeyMatchEntityTypeInfoTest, LimitedToTheRulesOfTheNewestScan) {
    CEntityTypeInfo info(&m_sets, &m_matcher);
    ASSERT_NO_FATAL_FAILURE(Init(info, false, true));
    EXPECT_EQ(4u, info.GetEntitySetInfos().size()) << "no scan, no limit";
    Execute("INSERT INTO Scans(startTime,incrementalScan) VALUES (1,0);");
    Execute("INSERT INTO Scans(startTime,incrementalScan) VALUES (2,1);");
    Execute("INSERT INTO ScanIntegrityRuleIds(scanId,integrityRuleId) VALUES (1,1),(2,2),(2,4);");
    ASSERT_NO_FATAL_FAILURE(Init(info, false, true));
    EXPECT_EQ(2u, info.GetEntitySetInfos().size());
    int reason = -1;
    EXPECT_EQ(std::set<long long>{}, IncludingRules(info, "/etc/a.conf", reason));
    EXPECT_EQ(std::set<long long>{2}, IncludingRules(info, "/etc/ssh/sshd_config", reason));
    // Without a limit every set takes part.
    ASSERT_NO_FATAL_FAILURE(Init(info, false, false));
    EXPECT_EQ(std::set<long long>{1}, IncludingRules(info, "/etc/a.conf", reason));
}

}  // namespace
