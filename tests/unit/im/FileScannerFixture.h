// Fixture of the file and directory scanner tests: rules stored into a real
// si.db, a real tree under the test's directory, and whole scans run on the
// scanner's own thread; results are read back from the database.
#pragma once

#include <gtest/gtest.h>
#include <wx/wxsqlite3.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/SqliteDatabase.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "tests/unit/im/RuleStorageFixture.h"

namespace KvoTest {

class FileScannerFixture : public RuleStorageFixture {
protected:

    void SetUp() override {
        RuleStorageFixture::SetUp();
        if (HasFatalFailure()) return;
        m_tree = m_dir.file("tree");
        ASSERT_EQ(0, mkdir(m_tree.c_str(), 0755));
    }

    std::string TreePath(const std::string& relative) const { return m_tree + "/" + relative; }
    void WriteTreeFile(const std::string& relative, const std::string& content) const {
        std::ofstream(TreePath(relative), std::ios::binary) << content;
    }

    // One rule with the given set (XML text); the rule id is counted up.
    void StoreSet(const std::string& set) {
        Store(("<IntegrityRule id=\"" + std::to_string(++m_ruleId) + "\" name=\"r\" identifier=\"77\">" + set +
               "</IntegrityRule>")
                  .c_str());
    }

    // Runs one subscan of entityType to its end; returns the highest entity id before it.
    long long RunScan(const std::string& entityType, int scanType = 0) {
        std::unique_ptr<KvoPluginIm::CIntegrityScanThread> scanner = StartScan(entityType, scanType);
        if (scanner) scanner->join();
        m_lastFinished = scanner && scanner->IsFinished();
        return m_highestBefore;
    }

    // A new scan of one subscan of entityType, started; m_highestBefore is the highest entity id before it.
    std::unique_ptr<KvoPluginIm::CIntegrityScanThread> StartScan(const std::string& entityType, int scanType) {
        // A marker row, as the control thread takes the highest id at the start
        // of a scan; it stays, so that no entity of this scan reuses its id.
        Execute("INSERT INTO Entitys(entityType) VALUES ('-ScanStart-')");
        m_highestBefore = std::stoll(Value("SELECT MAX(entityId) FROM Entitys"));
        Execute("INSERT INTO Scans(startTime,incrementalScan) VALUES (1000," + std::to_string(scanType) + ")");
        Execute("INSERT INTO Subscans(scanId,entityType,scanStep) VALUES ((SELECT MAX(scanId) FROM Scans),'" +
                entityType + "',0)");
        return ResumeScan();
    }

    // A scanner of the newest subscan row as it stands, started with the same highest entity id.
    std::unique_ptr<KvoPluginIm::CIntegrityScanThread> ResumeScan() {
        auto subscan = std::make_unique<KvoPluginIm::CSqlSubscan>();
        {
            KvoCore::CSqliteDatabase db(*m_dom, "test");
            EXPECT_TRUE(db.OpenIntegrityDb(Path("si.db"), KvoCore::DbAccess::ReadWrite));
            wxSQLite3ResultSet row = db.ExecuteQuery("SELECT * FROM Subscans ORDER BY subscanId DESC LIMIT 1");
            EXPECT_TRUE(row.NextRow());
            subscan->SQLLoad(row);
            row.Finalize();
            db.Close();
        }
        std::unique_ptr<KvoPluginIm::CIntegrityScanThread> scanner(
            KvoPluginIm::CIntegrityScanThread::CreateIntegrityScanThread(*m_dom, nullptr, subscan.release()));
        EXPECT_TRUE(scanner != nullptr);
        if (!scanner) return scanner;
        scanner->SetHighestEntityIdAtStartOfScan(m_highestBefore);
        EXPECT_TRUE(scanner->start());
        return scanner;
    }

    // Keys recorded by the last scan, relative to the tree, sorted.
    std::vector<std::string> RecordedKeys(const std::string& entityType, int ruleId = 1) {
        std::vector<std::string> keys;
        for (const Row& row : Rows("SELECT [key] FROM Entitys WHERE entityType='" + entityType +
                                   "' AND entityId>" + std::to_string(m_highestBefore) +
                                   " AND integrityRuleId=" + std::to_string(ruleId) + " ORDER BY [key]")) {
            const std::string key = row.at("key");
            keys.push_back(key.rfind(m_tree, 0) == 0 ? key.substr(m_tree.size()) : key);
        }
        return keys;
    }

    // The value of an attribute of the newest version of the file at the tree
    // path (a LIKE pattern) in the rule's set, "none" when it has no such attribute.
    std::string Attribute(const std::string& relative, const std::string& name, int ruleId = 1) {
        const std::string newest = "SELECT MAX(entityId) FROM Entitys WHERE [key] LIKE '" + TreePath(relative) +
                                   "' AND integrityRuleId=" + std::to_string(ruleId);
        const std::vector<Row> rows =
            Rows("SELECT value FROM Attributes WHERE entityId=(" + newest + ") AND name='" + name + "'");
        return rows.empty() ? "none" : rows.front().at("value");
    }

    // What a command prints first on its first line (a digest tool's digest).
    static std::string FirstWord(const std::string& command) {
        std::string out;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[256];
            if (fscanf(pipe, "%255s", buffer) == 1) out = buffer;
            pclose(pipe);
        }
        return out;
    }

    std::string m_tree;
    int m_ruleId = 0;
    long long m_highestBefore = 0;
    bool m_lastFinished = false;
};

}  // namespace KvoTest
