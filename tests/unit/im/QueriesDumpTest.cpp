// DumpBaseline on a real si.db: the exact text of "im_baseline.txt", which
// rows it holds, the cut of long attribute lists, refusals and errors.
#include <fstream>
#include <string>

#include <wx/filename.h>

#include "tests/unit/im/QueriesTestSupport.h"

namespace {

using KvoPluginIm::CSystemIntegrityThread;

const char* const kHeader = "EntityId;SupercededBy;RuleID-RuleName;Type;Key;Recorded;Attributes\n";

class QueriesDumpTest : public KvoTest::QueriesFixture {
protected:
    int Dump() {
        m_message.clear();
        return CSystemIntegrityThread::DumpBaseline(*m_dom, m_message);
    }
    std::string DumpFile() const { return m_dir.file("work/im/im_baseline.txt"); }
    std::string DumpText() const { return ReadFile(DumpFile()); }

    wxString m_message;
};

// Rule names, times and attribute lists are checked in im_queries.lua and
// im_query_bounds.lua; here, which versions are left out.
TEST_F(QueriesDumpTest, LeavesOutRetiredAndIncompleteVersionsAndNamesTheFile) {
    AddEntity("/etc/hosts");
    AddEntity("/etc/gone", {{"supercededBy", "-1"}});
    AddEntity("", {});
    AddEntity("/etc/unhashed", {{"attributeHash", ""}});
    AddEntity("/etc/norule", {{"integrityRuleId", "0"}});

    EXPECT_EQ(1, Dump());
    EXPECT_EQ(DumpFile(), m_message.utf8_string());
    EXPECT_EQ(std::string(kHeader) + "1;NULL;none;File;/etc/hosts;Tue Nov 14 22:13:20 2023\n", DumpText());
}

TEST_F(QueriesDumpTest, ReplacesAnOlderDump) {
    AddEntity("/etc/hosts");
    ASSERT_EQ(1, Dump());
    {
        std::ofstream old(DumpFile(), std::ios::app);
        old << "stale line that must go\n";
    }
    ASSERT_EQ(1, Dump());
    EXPECT_EQ(std::string::npos, DumpText().find("stale"));
}

TEST_F(QueriesDumpTest, DatabaseProblemsWriteNothing) {
    m_dom->Set("zel.im.dbPath", m_dir.file("no/such/dir/si.db"));
    EXPECT_EQ(0, Dump());
    EXPECT_FALSE(std::ifstream(DumpFile()).good());

    m_dom->Set("zel.im.dbPath", m_dir.file("si.db"));
    m_db->ExecuteUpdate("DROP TABLE Entitys;");
    EXPECT_EQ(0, Dump());
    EXPECT_NE(m_message.Find("Entitys"), wxNOT_FOUND) << m_message;
    EXPECT_NE(LogText().find("DumpBaseline() error accessing si.db: "), std::string::npos);
}

TEST_F(QueriesDumpTest, AFileThatCannotBeWrittenCountsAsNoDump) {
    AddEntity("/etc/hosts");
    ASSERT_TRUE(wxFileName::Mkdir(wxString::FromUTF8(DumpFile()), 0700, wxPATH_MKDIR_FULL));
    EXPECT_EQ(0, Dump());
    EXPECT_TRUE(m_message.StartsWith("Cannot write " + wxString::FromUTF8(DumpFile()))) << m_message;
}

TEST_F(QueriesDumpTest, AnEmptyBaselineWritesTheHeaderOnly) {
    AddEntity("", {});
    EXPECT_EQ(0, Dump());
    EXPECT_EQ(DumpFile(), m_message.utf8_string());
    EXPECT_EQ(kHeader, DumpText());
}

}  // namespace
