#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <wx/arrstr.h>

#include "core/Dom.h"
#include "tests/unit/TempDir.h"

using KvoCore::CDom;

namespace {

class DomTest : public ::testing::Test {
protected:
    void SetUp() override {
        wxString error;
        ASSERT_TRUE(CDom::Create({wxString(m_dir.file("work")), wxString()}, error)) << error;
        m_dom = CDom::This();
    }
    void TearDown() override { CDom::Destroy(); }

    std::string Read(const std::string& name) {
        std::ifstream in(m_dir.file("work/" + name));
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TempDir m_dir;
    CDom* m_dom = nullptr;
};

}  // namespace

TEST_F(DomTest, WideStringsRoundTripThroughTheStore) {
    m_dom->Set("zel.im.dbPath", std::string("/tmp/caf\xc3\xa9/si.db"));
    EXPECT_EQ(wxString::FromUTF8("/tmp/caf\xc3\xa9/si.db"), m_dom->GetWxString("zel.im.dbPath"));
    m_dom->Set("n", 5);
    EXPECT_TRUE(m_dom->GetWxString("n").empty()) << "a number is not a string";
    EXPECT_TRUE(m_dom->GetWxString("absent").empty());
}

TEST_F(DomTest, AgentEventsAreWholeEscapedLines) {
    m_dom->DoAgentEventWrite(8003, "%d|%s", 7, wxString("back\\slash\nnew line"));
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([this, t] {
            for (int i = 0; i < 200; ++i) m_dom->DoAgentEventWrite(6012, "%d|%s", t, wxString(300, 'x'));
        });
    for (auto& w : writers) w.join();
    std::istringstream lines(Read("agent-events.log"));
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ("8003|7|back\\\\slash\\nnew line", line);
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        ASSERT_EQ(0u, line.rfind("6012|", 0)) << line;
        ASSERT_EQ(5u + 2u + 300u, line.size()) << "interleaved line: " << line;
    }
    EXPECT_EQ(800, count);
}

TEST_F(DomTest, SecurityInfoOfAFile) {
    std::string path = m_dir.file("setuid");
    std::ofstream(path) << "x";
    // chown clears set-id bits, so the owner comes first.
    ASSERT_EQ(0, chown(path.c_str(), 0, 0));
    ASSERT_EQ(0, chmod(path.c_str(), 04755));
    auto info = [&](const std::string& file) {
        wxString v[6];
        return m_dom->FileGetSecurityInfo(file, v[0], v[1], v[2], v[3], v[4], v[5]) ? wxJoin(wxArrayString(6, v), ' ')
                                                                                       : wxString("refused");
    };
    EXPECT_EQ("0 root 0 root 4755 rwsr-xr-x", info(path));
    ASSERT_EQ(0, chmod(path.c_str(), 01640));
    EXPECT_EQ("0 root 0 root 1640 rw-r----T", info(path));
    // An id without a name shows the number as its friendly text.
    ASSERT_EQ(0, chown(path.c_str(), 54321, 54321));
    EXPECT_EQ("54321 54321 54321 54321 1640 rw-r----T", info(path));
    EXPECT_EQ("refused", info(m_dir.file("absent")));
}

TEST(DomCreate, AWorkDirectoryThatIsAFileCreatesNoAgent) {
    TempDir dir;
    wxString error;
    std::ofstream(dir.file("file")) << "x";
    EXPECT_FALSE(CDom::Create({wxString(dir.file("file")), wxString()}, error));
    EXPECT_NE(wxNOT_FOUND, error.Find("not a directory")) << error;
    EXPECT_EQ(nullptr, CDom::This());
}
