// Shared by the query tests: the process's agent with "zel.im.dbPath" on a
// real si.db in a temporary directory, a connection of the test's own to fill
// it through the record classes, and the control object the settings (event
// mode) and the purge belong to.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/SqlAttribute.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlIntegrityEvent.h"
#include "plugins/im/SqlScan.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/im-plugin.h"
#include "tests/unit/im/ControlThreadFixture.h"

namespace KvoTest {

// Column name -> value as text; "NULL" makes the column NULL.
using Columns = std::map<std::string, std::string>;

class QueriesFixture : public ControlThreadFixture {
protected:
    void SetUp() override {
        ControlThreadFixture::SetUp();
        if (HasFatalFailure()) return;
        m_dom->Set("zel.im.dbPath", m_dir.file("si.db"));
        m_db = std::make_unique<KvoCore::CSqliteDatabase>(*m_dom, "test");
        ASSERT_TRUE(m_db->Open(Path("si.db"), 1, "WAL", true, false));
        m_thread = std::make_unique<KvoPluginIm::CSystemIntegrityThread>();
        KvoPluginIm::InitializeEntityCounts();
    }
    void TearDown() override {
        KvoCore::LogSetTraceCategories("");
        m_thread.reset();
        m_db.reset();
        ControlThreadFixture::TearDown();
    }

    // Fills a record: NULL for "NULL", else the text parsed for the column's type.
    static void Assign(KvoCore::XMLObject& record, const Columns& columns) {
        for (const auto& column : columns) {
            const wxString name = wxString::FromUTF8(column.first);
            if (column.second == "NULL") {
                const KvoCore::XMLObject::Attribute* attribute = record.FindAttribute(name);
                ASSERT_NE(attribute, nullptr) << column.first;
                record.SetAttributeNull(attribute->member, true);
            } else {
                ASSERT_TRUE(record.SetAttribute(name, wxString::FromUTF8(column.second))) << column.first;
            }
        }
    }

    long long Insert(KvoCore::XMLObject& record, const Columns& columns) {
        Assign(record, columns);
        EXPECT_TRUE(record.SQLInsert(*m_db));
        return m_db->GetLastRowId().GetValue();
    }

    // A current, complete version of a File of rule 1, unless overrides say otherwise.
    long long AddEntity(const std::string& key, const Columns& overrides = {}) {
        Columns columns = {{"entityType", "File"},           {"entitySetId", "1"},       {"integrityRuleId", "1"},
                           {"integrityRuleSeverity", "2"},   {"keyCanonical", key},      {"key", key},
                           {"whenScanned", "1700000000123"}, {"attributeHash", "a1b2c3"}};
        for (const auto& o : overrides) columns[o.first] = o.second;
        KvoPluginIm::CSqlEntity entity;
        return Insert(entity, columns);
    }

    void AddAttribute(long long entityId, const std::string& name, const std::string& value,
                      const std::string& friendly = "") {
        KvoPluginIm::CSqlAttribute attribute;
        Insert(attribute, {{"entityId", std::to_string(entityId)},
                           {"name", name},
                           {"value", value},
                           {"friendlyValue", friendly},
                           {"internalValue", value}});
    }

    long long AddEvent(const Columns& overrides = {}) {
        Columns columns = {{"recorded", "1000"},   {"status", "-1"},      {"integrityRuleId", "1"},
                           {"change", "2"},        {"severity", "2"},     {"isEntity", "1"},
                           {"entityType", "File"}, {"key", "/etc/hosts"}, {"description", "mode:NjQ0_NjAw"}};
        for (const auto& o : overrides) columns[o.first] = o.second;
        KvoPluginIm::CSqlIntegrityEvent event;
        return Insert(event, columns);
    }

    // count events recorded 1000, 1001, ... referring to entity 1.
    void AddEvents(int count) {
        m_db->Begin();
        for (int i = 0; i < count; ++i) AddEvent({{"recorded", std::to_string(1000 + i)}});
        m_db->Commit();
    }

    // A scan of the stored kind; open (no end time) unless ended.
    long long AddScan(int kind, bool ended = false) {
        KvoPluginIm::CSqlScan scan;
        return Insert(scan, {{"startTime", "1700000000000"},
                             {"endTime", ended ? "1700000060000" : "NULL"},
                             {"incrementalScan", std::to_string(kind)}});
    }

    void AddSubscan(long long scanId, bool ended) {
        KvoPluginIm::CSqlSubscan subscan;
        Insert(subscan, {{"scanId", std::to_string(scanId)},
                         {"startTime", "1700000000000"},
                         {"endTime", ended ? "1700000060000" : "NULL"},
                         {"entityType", "File"}});
    }

    // Settings are read by the control object; the event mode is process-wide.
    void UseEventMode(int mode) {
        ReloadConfig("systemIntegrityEventMode=\"" + std::to_string(mode) + "\"");
        m_thread->UpdateSettingsFromConfig();
        ASSERT_EQ(mode, KvoPluginIm::GetEventMode());
    }

    // Query results are handed over as XMLObject; every test needs the real type.
    template <typename T>
    static std::unique_ptr<T> As(KvoCore::XMLObject* result) {
        std::unique_ptr<KvoCore::XMLObject> owned(result);
        T* typed = dynamic_cast<T*>(owned.get());
        if (typed == nullptr) return nullptr;
        owned.release();
        return std::unique_ptr<T>(typed);
    }

    long long Count(const std::string& sql) {
        wxSQLite3ResultSet rows = m_db->ExecuteQuery(wxString::FromUTF8(sql));
        return rows.NextRow() ? rows.GetInt64(0).GetValue() : -1;
    }

    static int Metric(const char* name) {
        KvoPluginIm::MetricMap metrics;
        KvoPluginIm::EntityAttributeMetricMap attributeMetrics;
        KvoPluginIm::GetMetrics(metrics, attributeMetrics);
        const auto found = metrics.find(name);
        return found == metrics.end() ? 0 : found->second;
    }


    std::unique_ptr<KvoCore::CSqliteDatabase> m_db;
    std::unique_ptr<KvoPluginIm::CSystemIntegrityThread> m_thread;
};

}  // namespace KvoTest
