#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

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

mode_t ModeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

TEST_F(DomTest, OneAgentPerProcessAndCopiesShareIt) {
    wxString error;
    EXPECT_FALSE(CDom::Create({wxString(m_dir.file("other")), wxString()}, error));
    EXPECT_FALSE(error.empty());
    CDom copy = *m_dom;
    copy.Set("zel.im.bScanRunning", true);
    bool running = false;
    EXPECT_TRUE(m_dom->Get("zel.im.bScanRunning", running));
    EXPECT_TRUE(running);
    EXPECT_EQ(m_dom->GetWorkdirWx(), m_dom->GetWxString("app.path.work"));
}

TEST_F(DomTest, WorkDirectoriesArePrivate) {
    EXPECT_EQ(0700u, ModeOf(m_dir.file("work")));
    wxString im = m_dom->GetPluginWorkdirWx("im");
    EXPECT_EQ(m_dom->GetWorkdirWx() + "/im/", im);
    EXPECT_EQ(0700u, ModeOf(m_dir.file("work/im")));
}

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

TEST_F(DomTest, EventChannelsAppendJsonLines) {
    EXPECT_TRUE(m_dom->IsEventOverHeartbeat("im"));
    EXPECT_FALSE(m_dom->IsEventOverIoT("im"));
    m_dom->Set("kvo.events.iot", true);
    EXPECT_TRUE(m_dom->IsEventOverIoT("im"));
    const char json[] = "{\"a\":1}";
    EXPECT_TRUE(m_dom->EventWrite(json, strlen(json)));
    EXPECT_TRUE(m_dom->IoTEventWrite(json, strlen(json)));
    EXPECT_EQ("{\"a\":1}\n", Read("events.jsonl"));
    EXPECT_EQ("{\"a\":1}\n", Read("iot-events.jsonl"));
}

TEST_F(DomTest, ShouldExitReturnsAtOnceOnStop) {
    EXPECT_FALSE(m_dom->ShouldExit(0));
    EXPECT_FALSE(m_dom->ShouldExit(10));
    std::thread stopper([this] { m_dom->RequestStop(); });
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(m_dom->ShouldExit(60000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    stopper.join();
    EXPECT_TRUE(m_dom->ShouldExit(0));
    long long count = 0;
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_dom->ConditionWait("never", 0, 60000, count)) << "a stopped agent ends condition waits";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    std::string data;
    EXPECT_FALSE(m_dom->MsgBusDequeue("external", 0xFFFFFFFFu, data));
}

TEST_F(DomTest, SecurityInfoOfAFile) {
    std::string path = m_dir.file("setuid");
    std::ofstream(path) << "x";
    // chown clears set-id bits, so the owner comes first.
    ASSERT_EQ(0, chown(path.c_str(), 0, 0));
    ASSERT_EQ(0, chmod(path.c_str(), 04755));
    wxString owner, ownerName, group, groupName, perms, permsText;
    ASSERT_TRUE(m_dom->FileGetSecurityInfo(path, owner, ownerName, group, groupName, perms, permsText));
    EXPECT_EQ("0", owner);
    EXPECT_EQ("root", ownerName);
    EXPECT_EQ("0", group);
    EXPECT_EQ("root", groupName);
    EXPECT_EQ("4755", perms);
    EXPECT_EQ("rwsr-xr-x", permsText);
    ASSERT_EQ(0, chmod(path.c_str(), 01640));
    ASSERT_TRUE(m_dom->FileGetSecurityInfo(path, owner, ownerName, group, groupName, perms, permsText));
    EXPECT_EQ("1640", perms);
    EXPECT_EQ("rw-r----T", permsText);
    // An id without a name shows the number as its friendly text.
    ASSERT_EQ(0, chown(path.c_str(), 54321, 54321));
    ASSERT_TRUE(m_dom->FileGetSecurityInfo(path, owner, ownerName, group, groupName, perms, permsText));
    EXPECT_EQ("54321", ownerName);
    EXPECT_FALSE(m_dom->FileGetSecurityInfo(m_dir.file("absent"), owner, ownerName, group, groupName, perms,
                                            permsText));
}

TEST_F(DomTest, PlatformFollowsTheStateKey) {
    EXPECT_TRUE(m_dom->IsProtectingLinux());
    m_dom->Set("kvo.host.windows", true);
    EXPECT_TRUE(m_dom->IsProtectingWindows());
    EXPECT_FALSE(m_dom->IsProtectingLinux());
}

TEST(DomCreate, BrokenConfigurationCreatesNoAgent) {
    TempDir dir;
    std::ofstream(dir.file("bad.xml")) << "<SecurityConfiguration>";
    wxString error;
    EXPECT_FALSE(CDom::Create({wxString(dir.file("work")), wxString(dir.file("bad.xml"))}, error));
    EXPECT_NE(wxNOT_FOUND, error.Find("bad.xml"));
    EXPECT_EQ(nullptr, CDom::This());
    std::ofstream(dir.file("file")) << "x";
    EXPECT_FALSE(CDom::Create({wxString(dir.file("file")), wxString()}, error));
    EXPECT_NE(wxNOT_FOUND, error.Find("not a directory")) << error;
}
