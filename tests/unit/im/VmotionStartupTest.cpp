// HandleVmotionStartup on an agent thread, as the agent's script calls it
// before main(): the marker files of a virtual-machine migration decide what
// it waits for.
#include <cstdio>
#include <fstream>

#include <wx/filename.h>

#include "tests/unit/im/ControlLoopFixture.h"

namespace KvoTest {
namespace {

class VmotionStartupTest : public ControlLoopFixture {
protected:
    std::string Marker(const char* name) const { return m_dir.file(std::string("work/vmotion/") + name); }
    void CreateMarker(const char* name) {
        wxFileName::Mkdir(m_dir.file("work/vmotion"), 0700, wxPATH_MKDIR_FULL);
        std::ofstream(Marker(name)).close();
    }
    static bool Exists(const std::string& path) { return wxFileName::FileExists(path); }
};

TEST_F(VmotionStartupTest, SavingDropsInterruptedScanAndWaitsForTheStop) {
    AddEntity(1, 1);
    AddScanRow(0, 1000, 0, 1);  // the scan began when entity 1 was the highest
    AddEntity(2, 1);
    CreateMarker("saving");
    CSystemIntegrityThread control;
    CLoopRunner runner(m_dom, control, &CSystemIntegrityThread::HandleVmotionStartup);
    ASSERT_TRUE(runner.start());
    ASSERT_TRUE(WaitUntil([this] { return QueryNumber("SELECT COUNT(*) FROM [Scans];") == 0; }));
    EXPECT_TRUE(runner.isRunning()) << "it waits for the agent to go away";
    EXPECT_EQ(std::vector<long long>{1}, QueryNumbers("SELECT [entityId] FROM [Entitys];"));
    runner.requestExit();
    ASSERT_TRUE(WaitUntil([&runner] { return !runner.isRunning(); }));
    EXPECT_FALSE(Exists(Marker("saving")));
}

TEST_F(VmotionStartupTest, RestoreWaitsForTheRestoreAndAReadConfiguration) {
    m_dom->Set("kvo.vmotioned", true);
    CreateMarker("restoring");
    m_dom->ConditionRegister("app.configReload");
    CSystemIntegrityThread control;
    CLoopRunner runner(m_dom, control, &CSystemIntegrityThread::HandleVmotionStartup);
    ASSERT_TRUE(runner.start());
    ASSERT_TRUE(WaitUntil([this] { return Flag("zel.im.bVmotionProcessing"); }));
    EXPECT_EQ(0, ConditionCount("app.configReload")) << "not while the restore runs";

    ASSERT_EQ(0, remove(Marker("restoring").c_str()));
    ASSERT_TRUE(WaitUntil([this] { return ConditionCount("app.configReload") == 1; }));
    EXPECT_FALSE(Flag("zel.im.bVmotionProcessing"));
    EXPECT_TRUE(runner.isRunning()) << "it waits until the configuration was read again";

    wxString error;
    ASSERT_TRUE(m_dom->ConfigReload(error)) << error;  // what the agent's reloader does
    EXPECT_TRUE(WaitUntil([&runner] { return !runner.isRunning(); }));
}

TEST_F(VmotionStartupTest, WithoutMigrationNothingWaits) {
    CSystemIntegrityThread control;
    control.HandleVmotionStartup();
    EXPECT_FALSE(Flag("zel.im.bVmotionProcessing"));
    EXPECT_EQ(0, ConditionCount("app.configReload"));
}

}  // namespace
}  // namespace KvoTest
