#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <wx/wxsqlite3.h>

#include "core/SqliteDatabase.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "tests/unit/im/ControlThreadFixture.h"

using KvoPluginIm::CSystemIntegrityThread;
namespace fs = std::filesystem;

namespace {

class ControlDbTest : public KvoTest::ControlObjectFixture {
protected:
    void UseDb(const std::string& name) { m_dom->Set("zel.im.dbPath", m_dir.file(name)); }

    // Every file below the temporary directory with its size, except the log.
    std::map<std::string, uintmax_t> Listing() const {
        std::map<std::string, uintmax_t> files;
        for (const auto& entry : fs::recursive_directory_iterator(m_dir.path())) {
            const std::string path = entry.path().string();
            if (path == m_dir.file("work/kvo-agent.log")) continue;
            files[path] = entry.is_regular_file() ? entry.file_size() : 0;
        }
        return files;
    }

    // Runs sql on a connection of its own, as another thread would.
    void ExecuteElsewhere(const wxString& sql) {
        wxSQLite3Database other;
        other.Open(Path("si.db"));
        other.ExecuteUpdate(sql);
        other.Close();
    }
};

TEST_F(ControlDbTest, UnusablePathFailsAndLeavesNothingBehind) {
    fs::create_directory(m_dir.file("a-directory"));
    std::ofstream(m_dir.file("garbage.db")) << std::string(8192, 'x');
    const struct {
        const char* label;
        std::function<void(KvoCore::CDom&)> set;
    } cases[] = {
        {"unset", [](KvoCore::CDom& dom) { dom.SetNil("zel.im.dbPath"); }},
        {"empty", [](KvoCore::CDom& dom) { dom.Set("zel.im.dbPath", ""); }},
        {"not a string", [](KvoCore::CDom& dom) { dom.Set("zel.im.dbPath", true); }},
        {"missing directory", [this](KvoCore::CDom& dom) { dom.Set("zel.im.dbPath", m_dir.file("missing/si.db")); }},
        {"a directory", [this](KvoCore::CDom& dom) { dom.Set("zel.im.dbPath", m_dir.file("a-directory")); }},
        {"not a database", [this](KvoCore::CDom& dom) { dom.Set("zel.im.dbPath", m_dir.file("garbage.db")); }},
    };
    for (const auto& c : cases) {
        c.set(*m_dom);
        const auto before = Listing();
        EXPECT_FALSE(m_thread->OpenSystemIntegrityDb()) << c.label;
        EXPECT_EQ(before, Listing()) << c.label << ": files were created or changed";
        EXPECT_FALSE(m_thread->OpenSystemIntegrityDb()) << c.label << ", asked again";
    }
    EXPECT_EQ(std::string(8192, 'x'), ReadFile(m_dir.file("garbage.db")));

    // The failures left the object as it was: a usable path now opens.
    UseDb("si.db");
    EXPECT_TRUE(m_thread->OpenSystemIntegrityDb());
    EXPECT_TRUE(fs::exists(m_dir.file("si.db")));
}

// A file without the tables the statement reads is refused whole.
TEST_F(ControlDbTest, FileWithoutTheIntegrityTablesIsRefused) {
    UseDb("si.db");
    ASSERT_TRUE(m_thread->OpenSystemIntegrityDb());
    m_thread->CloseSystemIntegrityDb();
    ExecuteElsewhere("ALTER TABLE [Entitys] RENAME TO [Hidden]");
    EXPECT_FALSE(m_thread->OpenSystemIntegrityDb());
    EXPECT_EQ(nullptr, m_thread->GetRulesWithoutEntitiesStatement());
    ExecuteElsewhere("ALTER TABLE [Hidden] RENAME TO [Entitys]");
    EXPECT_TRUE(m_thread->OpenSystemIntegrityDb()) << "the refusal kept nothing half open";
}

}  // namespace
