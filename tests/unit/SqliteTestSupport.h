// Shared fixture of the database tests: a private temporary directory, an
// agent object whose work directory (and log) lives inside it, and helpers to
// open connections and read results.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/Dom.h"
#include "core/SqliteDatabase.h"

namespace KvoTest {

class SqliteFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kvo-sqlite-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        wxString error;
        ASSERT_TRUE(KvoCore::CDom::Create({Path("work"), ""}, error)) << error;
        m_dom = KvoCore::CDom::This();
    }

    void TearDown() override {
        if (m_dom != nullptr) KvoCore::CDom::Destroy();
        std::error_code ignored;
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ignored);
    }

    wxString Path(const std::string& name) const { return wxString::FromUTF8(m_dir + "/" + name); }

    std::unique_ptr<KvoCore::CSqliteDatabase> NewDb() {
        return std::make_unique<KvoCore::CSqliteDatabase>(*m_dom, "dbtest");
    }

    // A connection on a new file of the temporary directory, as the plug-in opens it.
    std::unique_ptr<KvoCore::CSqliteDatabase> OpenDb(const std::string& name = "si.db") {
        auto db = NewDb();
        EXPECT_TRUE(db->OpenIntegrityDb(Path(name), KvoCore::DbAccess::ReadWrite));
        return db;
    }

    std::string LogText() const {
        std::ifstream in(m_dir + "/work/kvo-agent.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string m_dir;
    KvoCore::CDom* m_dom = nullptr;
};

inline long long Scalar(wxSQLite3Database& db, const wxString& sql) {
    wxSQLite3ResultSet rs = db.ExecuteQuery(sql);
    return rs.NextRow() ? rs.GetInt64(0).GetValue() : -1;
}

inline std::string Text(wxSQLite3Database& db, const wxString& sql) {
    wxSQLite3ResultSet rs = db.ExecuteQuery(sql);
    return rs.NextRow() ? rs.GetString(0).ToStdString() : std::string("<no row>");
}

// Every value of the first column, in row order.
inline std::vector<std::string> Column(wxSQLite3Database& db, const wxString& sql) {
    std::vector<std::string> values;
    wxSQLite3ResultSet rs = db.ExecuteQuery(sql);
    while (rs.NextRow()) values.push_back(rs.IsNull(0) ? "NULL" : rs.GetString(0).ToStdString());
    return values;
}

}  // namespace KvoTest
