// Fixture of the rule storage and rule change tests: the agent object with a
// configuration of rules the test writes, a control thread on a real si.db in
// the test's directory, and readers of what the thread leaves behind (rows
// read through a connection of their own, agent events, conditions).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <wx/wxsqlite3.h>

#include "core/SqliteDatabase.h"
#include "plugins/im/IntegrityRule.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "tests/unit/im/ControlThreadFixture.h"
#include "tests/unit/im/RuleTestSupport.h"

namespace KvoTest {

using Row = std::map<std::string, std::string>;

class RuleStorageFixture : public ControlThreadFixture {
protected:
    void SetUp() override {
        ControlThreadFixture::SetUp();
        if (HasFatalFailure()) return;
        m_dom->Set("zel.im.dbPath", m_dir.file("si.db"));
        RecreateThread();
    }
    void TearDown() override {
        m_thread.reset();
        KvoPluginIm::CSystemIntegrityThread::SetFipsModeForTesting(-1);
        for (const std::string& name : m_envSet) unsetenv(name.c_str());
        ControlThreadFixture::TearDown();
    }

    // A new control thread, which reads the agent modes ("kvo.mode.vmsafeGuest") again.
    void RecreateThread() {
        m_thread.reset();
        m_thread = std::make_unique<KvoPluginIm::CSystemIntegrityThread>();
        ASSERT_TRUE(m_thread->OpenSystemIntegrityDb());
    }

    // Writes a configuration whose IntegrityRules element holds rules (XML
    // text) and makes it the one in force.
    void ConfigureRules(const std::string& rules, const std::string& agentAttributes = std::string()) {
        WriteRawConfig("<SecurityConfiguration><AgentConfiguration " + agentAttributes + "/><IntegrityRules>" +
                       rules + "</IntegrityRules></SecurityConfiguration>\n");
    }
    void WriteRawConfig(const std::string& text) {
        std::ofstream(m_dir.file("config.xml")) << text;
        wxString error;
        ASSERT_TRUE(m_dom->ConfigReload(error)) << error;
    }
    // The configuration pass of the control loop.
    void Process(const std::string& rules, const std::string& agentAttributes = std::string()) {
        ConfigureRules(rules, agentAttributes);
        m_thread->OnRulesChanged();
    }

    // Stores one rule, parsed from XML text, as rule storage does.
    void Store(const char* ruleXml) {
        auto rule = ParseRule(ruleXml);
        m_thread->AddRuleToDb(*rule);
    }

    void SetEnv(const std::string& name, const std::string& value) {
        setenv(name.c_str(), value.c_str(), 1);
        m_envSet.push_back(name);
    }

    // Every row of a query, each column as text ("NULL" for NULL).
    std::vector<Row> Rows(const std::string& sql) {
        std::vector<Row> rows;
        KvoCore::CSqliteDatabase db(*m_dom, "test");
        EXPECT_TRUE(db.OpenIntegrityDb(Path("si.db"), KvoCore::DbAccess::ReadWrite));
        wxSQLite3ResultSet result = db.ExecuteQuery(wxString::FromUTF8(sql));
        while (result.NextRow()) {
            Row row;
            for (int i = 0; i < result.GetColumnCount(); ++i)
                row[result.GetColumnName(i).utf8_string()] =
                    result.IsNull(i) ? "NULL" : result.GetAsString(i).utf8_string();
            rows.push_back(row);
        }
        result.Finalize();
        db.Close();
        return rows;
    }
    // The one column of the first row of a query.
    std::string Value(const std::string& sql) {
        const std::vector<Row> rows = Rows(sql);
        return rows.empty() || rows.front().empty() ? "no row" : rows.front().begin()->second;
    }
    void Execute(const std::string& sql) {
        KvoCore::CSqliteDatabase db(*m_dom, "test");
        ASSERT_TRUE(db.OpenIntegrityDb(Path("si.db"), KvoCore::DbAccess::ReadWrite));
        db.ExecuteUpdate(wxString::FromUTF8(sql));
        db.Close();
    }
    // Inserts a current entity version of the rule; returns its entityId.
    long long AddEntity(int ruleId, const std::string& key, const std::string& supercededBy = "NULL") {
        Execute("INSERT INTO Entitys(entityType,integrityRuleId,keyCanonical,[key],supercededBy) VALUES ('File'," +
                std::to_string(ruleId) + ",'" + key + "','" + key + "'," + supercededBy + ")");
        return std::stoll(Value("SELECT MAX(entityId) FROM Entitys"));
    }

    // Truncated, not removed: the agent keeps appending to the file it opened.
    void ClearEvents() const { std::ofstream(m_dir.file("work/agent-events.log"), std::ios::trunc); }

    long long Raised(const std::string& condition) const {
        long long count = 0;
        return m_dom->ConditionQuery(condition, count) ? count : 0;
    }
    bool Flag(const std::string& key) const {
        bool value = false;
        return m_dom->Get(key, value) && value;
    }
    bool FlagIsNil(const std::string& key) const {
        bool value = false;
        return !m_dom->Get(key, value);
    }

    std::unique_ptr<KvoPluginIm::CSystemIntegrityThread> m_thread;
    std::vector<std::string> m_envSet;
};

}  // namespace KvoTest
