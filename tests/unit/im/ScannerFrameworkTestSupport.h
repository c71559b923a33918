// Shared by the scanner framework tests: a scanner of user entities whose step
// hooks follow a script, and a fixture with the agent, a real si.db holding
// scan and subscan rows, and helpers to run a scanner on its own thread.
#pragma once

#include <gtest/gtest.h>
#include <wx/wxsqlite3.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/XMLObjectList.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlIncludeExcludePattern.h"
#include "plugins/im/SqlIntegrityRule.h"
#include "plugins/im/SqlScan.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SqlUserEntitySet.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "tests/unit/SqliteTestSupport.h"
#include "tests/unit/im/ControlThreadFixture.h"
#include "tests/unit/im/NameKeyMatch.h"

namespace KvoTest {

using KvoPluginIm::CIntegrityScanThread;

// A one-shot signal between threads.
class Latch {
public:
    void Set() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_set = true;
        m_changed.notify_all();
    }
    // False when not set within the (generous) timeout.
    bool Wait(std::chrono::seconds timeout = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_set; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set = false;
};

// What a scripted hook does besides recording its visit.
struct HookScript {
    std::set<int> baseHooks;  // steps whose hook runs the base class's version
    std::map<int, int> next;  // next step to set instead of the usual one
    int throwDbAt = -1;       // hook that opens a transaction, writes, and hits a database error
    int throwStdAt = -1;      // hook that throws a std::exception
};

// A hook's visit: its step and what the subscan row held when it began.
struct HookVisit {
    int step;
    int storedStep;
    bool storedCheckpointNull;
    bool operator==(const HookVisit& other) const {
        return step == other.step && storedStep == other.storedStep &&
               storedCheckpointNull == other.storedCheckpointNull;
    }
};

inline std::ostream& operator<<(std::ostream& out, const HookVisit& visit) {
    return out << "{" << visit.step << ", stored " << visit.storedStep
               << (visit.storedCheckpointNull ? ", no checkpoint}" : ", checkpoint}");
}

// What the scripted scanner finds on its pretended host.
struct HostScript {
    // The value written for an attribute column; "%k" in value stands for the key.
    struct Value {
        wxString value;
        wxString friendlyValue;
        wxString internalValue;
    };
    std::map<long long, std::vector<wxString>> keysOfSet;  // entity set id -> user names found
    std::map<wxString, Value> values;                      // "monitorFullName" -> value
    std::set<wxString> failingKeys;                        // recording these hits a database error
    long long failMatchOfSet = -1;                         // MatchSet of this set returns false
};

// One MatchSet call as the scanner received it.
struct MatchCall {
    long long entitySetId;
    long long ruleId;
    wxString ruleName;
    unsigned long maxDepth;
    size_t patterns;
    KvoCore::Int64Set includeExcludeIds;
    size_t setsInCollection;
};

// One GatherAttributes call: the key and the entity rows of its batch.
struct GatherCall {
    wxString key;
    std::vector<long long> entityIds;
    std::vector<long long> entitySetIds;  // as loaded into each entity's set record
};

class CScriptedScanThread : public CIntegrityScanThread {
public:
    static constexpr const char* s_Trace = "zel.im.scanner.user";

    CScriptedScanThread(KvoCore::CDom& dom, KvoPluginIm::CSqlSubscan* subscan, HookScript script = {},
                        HostScript host = {})
        : CIntegrityScanThread(dom, subscan), m_script(std::move(script)), m_host(std::move(host)) {}

    wxString GetThreadName() const override { return "CScriptedScanThread"; }
    KvoPluginIm::CSqlEntitySet* CreateEntitySetObject() const override { return new KvoPluginIm::CSqlUserEntitySet(); }
    KvoCore::XMLObjectList* CreateEntitySetCollection() const override { return new KvoPluginIm::CSqlUserEntitySets(); }
    const char* GetTraceMask() const override { return s_Trace; }
    const KvoPluginIm::CSystemIntegrityKeyMatch* GetKeyMatcher() const override { return &m_matcher; }

    // Records a row per scripted key, as a scanner records what it finds.
    bool MatchSet(const KvoCore::XMLObjectList* sets, const KvoPluginIm::CSqlEntitySet* set,
                  const KvoPluginIm::CSqlIncludeExcludeFeatures&, const KvoPluginIm::CSqlIncludeExcludePatterns& patterns,
                  const KvoPluginIm::CSqlIntegrityRule& rule, unsigned long maxDepth,
                  const KvoCore::Int64Set& includeExcludeIds) override {
        m_matchCalls.push_back({set->m_entitySetId, rule.GetId(), rule.GetName(), maxDepth,
                                patterns.size(), includeExcludeIds, sets->size()});
        if (set->m_entitySetId == m_host.failMatchOfSet) return false;
        for (const wxString& key : m_host.keysOfSet[set->m_entitySetId]) {
            KvoPluginIm::CSqlEntity entity;
            entity.m_entityType = "User";
            entity.m_entitySetId = set->m_entitySetId;
            entity.m_integrityRuleId = rule.GetId();
            entity.m_integrityRuleSeverity = rule.GetSeverity();
            entity.m_keyCanonical = key.Lower();
            entity.m_key = key;
            for (const void* member : {static_cast<const void*>(&entity.m_entityType),
                                       static_cast<const void*>(&entity.m_entitySetId),
                                       static_cast<const void*>(&entity.m_integrityRuleId),
                                       static_cast<const void*>(&entity.m_integrityRuleSeverity),
                                       static_cast<const void*>(&entity.m_keyCanonical),
                                       static_cast<const void*>(&entity.m_key)})
                entity.SetAttributeNull(member, false);
            entity.SQLInsert(Db(), *Stmt().insertEntity);
            Stmt().insertEntity->Reset();
            Stmt().insertEntity->ClearBindings();
        }
        return true;
    }

    // Wants, for each entity, the attributes its set's record monitors.
    void GatherAttributes(const wxString& key, KvoPluginIm::EntityInfoList& entities) override {
        GatherCall call{key, {}, {}};
        KvoCore::MapStringToInt64Set wanted;
        for (const auto& info : entities) {
            call.entityIds.push_back(info->m_entity.m_entityId);
            call.entitySetIds.push_back(info->m_entitySet->m_entitySetId);
            info->m_entitySet->EnumAttributes([&](const KvoCore::XMLObject::Attribute& attribute) {
                if (attribute.type == KvoCore::XMLObject::AttributeType::Bool && attribute.name.Text().StartsWith("monitor") &&
                    *static_cast<const bool*>(attribute.member))
                    KvoCore::AddToMapSet(wanted, attribute.name, info->m_entity.m_entityId);
                return true;
            });
        }
        m_gatherCalls.push_back(call);
        GatherAttributesOfEntity(key, wanted);
    }

    void RecordAttribute(const wxString& key, const wxString& name, const KvoCore::Int64Set& entityIds) override {
        if (m_host.failingKeys.count(key)) Db().ExecuteUpdate("SELECT * FROM [NoSuchTable];");
        HostScript::Value value = m_host.values[name];
        value.value.Replace("%k", key);
        WriteAttribute(name, value.value, value.friendlyValue, entityIds, value.internalValue);
    }

    bool OnResetSupersededBy() override {
        return Hook(StepResetSupersededBy, StepMatchEntities,
                    [this] { return CIntegrityScanThread::OnResetSupersededBy(); });
    }
    bool OnMatchEntities() override {
        return Hook(StepMatchEntities, StepGatherAttributeValues,
                    [this] { return CIntegrityScanThread::OnMatchEntities(); });
    }
    bool OnProcessRealtimeChanges() override {
        return Hook(StepProcessRealtimeChanges, StepScanPostProcessing,
                    [this] { return CIntegrityScanThread::OnProcessRealtimeChanges(); });
    }
    bool OnGatherAttributeValues() override {
        return Hook(StepGatherAttributeValues, StepScanPostProcessing,
                    [this] { return CIntegrityScanThread::OnGatherAttributeValues(); });
    }
    bool OnProcessExternalEntities() override {
        return Hook(StepProcessExternalEntities, StepScanPostProcessing,
                    [this] { return CIntegrityScanThread::OnProcessExternalEntities(); });
    }
    bool OnScanPostProcessing() override {
        return Hook(StepScanPostProcessing, StepFinished,
                    [this] { return CIntegrityScanThread::OnScanPostProcessing(); });
    }

    const std::vector<HookVisit>& Visits() const { return m_visits; }
    const std::vector<MatchCall>& MatchCalls() const { return m_matchCalls; }
    const std::vector<GatherCall>& GatherCalls() const { return m_gatherCalls; }

    // Members of the base that the tests look into.
    using CIntegrityScanThread::Db;
    using CIntegrityScanThread::Subscan;
    using CIntegrityScanThread::LoadEntitySetsInScope;
    using CIntegrityScanThread::m_entitySetIdsInScope;
    using CIntegrityScanThread::m_ruleIdsInScope;
    using CIntegrityScanThread::Statements;
    using CIntegrityScanThread::Stmt;

private:
    bool Hook(int step, int usualNext, const std::function<bool()>& base) {
        m_visits.push_back(Stored(step));
        if (m_script.baseHooks.count(step)) return base();
        if (step == m_script.throwDbAt) {
            m_transaction.emplace(Db());
            Db().ExecuteUpdate("INSERT INTO [Scans] ([startTime]) VALUES (4242);");
            Db().ExecuteUpdate("SELECT * FROM [NoSuchTable];");
        }
        if (step == m_script.throwStdAt) throw std::runtime_error("scripted failure");
        auto next = m_script.next.find(step);
        SetNextStep(next == m_script.next.end() ? usualNext : next->second);
        return true;
    }

    HookVisit Stored(int step) {
        wxSQLite3ResultSet row = Db().ExecuteQuery(wxString::Format(
            "SELECT [scanStep], [checkpointInfo] FROM [Subscans] WHERE [subscanId]=%lld;", Subscan().m_subscanId));
        if (!row.NextRow()) return {step, -1, false};
        return {step, row.GetInt(0), row.IsNull(1)};
    }

    HookScript m_script;
    HostScript m_host;
    NameKeyMatch m_matcher;
    std::vector<HookVisit> m_visits;
    std::vector<MatchCall> m_matchCalls;
    std::vector<GatherCall> m_gatherCalls;
};

// One subscan row as the database holds it.
struct StoredSubscan {
    int scanStep = -1;
    bool checkpointNull = false;
    wxString checkpointInfo;
    bool startTimeNull = true;
    bool endTimeNull = true;
};

class ScannerFrameworkFixture : public ControlThreadFixture {
protected:
    void SetUp() override {
        ControlThreadFixture::SetUp();
        if (HasFatalFailure()) return;
        m_db = std::make_unique<KvoCore::CSqliteDatabase>(*m_dom, "test");
        ASSERT_TRUE(m_db->OpenIntegrityDb(Path("si.db"), KvoCore::DbAccess::ReadWrite));
        m_dom->Set("zel.im.dbPath", m_dir.file("si.db"));
        KvoCore::LogSetTraceCategories(CScriptedScanThread::s_Trace);
    }
    void TearDown() override {
        KvoCore::LogSetTraceCategories("");
        m_db.reset();
        ControlThreadFixture::TearDown();
    }

    // A scan row of the given type; returns its scanId.
    long long AddScan(int scanType) {
        KvoPluginIm::CSqlScan scan;
        scan.m_startTime = 1000;
        scan.SetAttributeNull(&scan.m_startTime, false);
        scan.m_incrementalScan = scanType;
        scan.SetAttributeNull(&scan.m_incrementalScan, false);
        scan.SQLInsert(*m_db);
        return scan.m_scanId;
    }

    // A subscan row of user entities, as an interrupted scan may leave it.
    long long AddSubscan(long long scanId, int scanStep, const wxString& checkpoint = wxString()) {
        KvoPluginIm::CSqlSubscan subscan;
        subscan.m_scanId = scanId;
        subscan.SetAttributeNull(&subscan.m_scanId, false);
        subscan.m_entityType = "User";
        subscan.SetAttributeNull(&subscan.m_entityType, false);
        subscan.m_scanStep = scanStep;
        subscan.SetAttributeNull(&subscan.m_scanStep, false);
        if (!checkpoint.empty()) {
            subscan.m_checkpointInfo = checkpoint;
            subscan.SetAttributeNull(&subscan.m_checkpointInfo, false);
        }
        subscan.SQLInsert(*m_db);
        return subscan.m_subscanId;
    }

    // The subscan row loaded as the control thread loads it, with the step it
    // hands to a new scanner (the control thread gives queued ones 0).
    std::unique_ptr<KvoPluginIm::CSqlSubscan> LoadSubscan(long long subscanId, int step) {
        auto subscan = std::make_unique<KvoPluginIm::CSqlSubscan>();
        wxSQLite3ResultSet row =
            m_db->ExecuteQuery(wxString::Format("SELECT * FROM [Subscans] WHERE [subscanId]=%lld;", subscanId));
        EXPECT_TRUE(row.NextRow());
        subscan->SQLLoad(row);
        subscan->m_scanStep = step;
        return subscan;
    }

    std::unique_ptr<CScriptedScanThread> NewScanner(long long subscanId, int step, HookScript script = {},
                                                    HostScript host = {}) {
        return std::make_unique<CScriptedScanThread>(*m_dom, LoadSubscan(subscanId, step).release(), std::move(script),
                                                     std::move(host));
    }

    // Starts the scanner and waits for its end.
    static void Run(CIntegrityScanThread& scanner) {
        ASSERT_TRUE(scanner.start());
        scanner.join();
        ASSERT_FALSE(scanner.isRunning());
    }

    StoredSubscan Stored(long long subscanId) {
        StoredSubscan stored;
        wxSQLite3ResultSet row = m_db->ExecuteQuery(wxString::Format(
            "SELECT [scanStep], [checkpointInfo], [startTime], [endTime] FROM [Subscans] WHERE [subscanId]=%lld;",
            subscanId));
        if (!row.NextRow()) return stored;
        stored.scanStep = row.GetInt(0);
        stored.checkpointNull = row.IsNull(1);
        stored.checkpointInfo = row.GetString(1);
        stored.startTimeNull = row.IsNull(2);
        stored.endTimeNull = row.IsNull(3);
        return stored;
    }


    std::unique_ptr<KvoCore::CSqliteDatabase> m_db;
};

}  // namespace KvoTest
