// Shared by the record tests: a fixture with a real si.db created by the
// agent's database layer, and every record class of a table with its relation.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "plugins/im/SqlAttribute.h"
#include "plugins/im/SqlChangeDetail.h"
#include "plugins/im/SqlDirectoryEntitySet.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlFeature.h"
#include "plugins/im/SqlFileEntitySet.h"
#include "plugins/im/SqlGroupEntitySet.h"
#include "plugins/im/SqlIncludeExclude.h"
#include "plugins/im/SqlInstalledSoftwareEntitySet.h"
#include "plugins/im/SqlIntegrityEvent.h"
#include "plugins/im/SqlIntegrityRule.h"
#include "plugins/im/SqlPattern.h"
#include "plugins/im/SqlPortEntitySet.h"
#include "plugins/im/SqlProcessEntitySet.h"
#include "plugins/im/SqlRealtimeChange.h"
#include "plugins/im/SqlRegistryKeyEntitySet.h"
#include "plugins/im/SqlRegistryValueEntitySet.h"
#include "plugins/im/SqlScan.h"
#include "plugins/im/SqlScanEntitySetId.h"
#include "plugins/im/SqlScanIntegrityRuleId.h"
#include "plugins/im/SqlServiceEntitySet.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SqlUserEntitySet.h"
#include "plugins/im/SqlWqlEntitySet.h"
#include "tests/unit/SqliteTestSupport.h"

namespace KvoTest {

class RecordDbFixture : public SqliteFixture {
protected:
    void SetUp() override {
        SqliteFixture::SetUp();
        m_db = OpenDb();
        ASSERT_TRUE(m_db->IsOpenDb());
    }
    void TearDown() override {
        m_db.reset();
        SqliteFixture::TearDown();
    }

    std::unique_ptr<KvoCore::CSqliteDatabase> m_db;
};

struct RecordClass {
    std::string relation;
    std::function<std::unique_ptr<KvoCore::XMLObject>()> make;
    std::function<std::unique_ptr<KvoCore::XMLObjectList>()> makeList;
};

template <typename TRecord, typename TList>
RecordClass Record(const std::string& relation) {
    return {relation, [] { return std::make_unique<TRecord>(); }, [] { return std::make_unique<TList>(); }};
}

inline const std::vector<RecordClass>& AllRecordClasses() {
    using namespace KvoPluginIm;
    static const std::vector<RecordClass> classes = {
        Record<CSqlIntegrityRule, CSqlIntegrityRules>("IntegrityRules"),
        Record<CSqlDirectoryEntitySet, CSqlDirectoryEntitySets>("DirectorySets"),
        Record<CSqlFileEntitySet, CSqlFileEntitySets>("FileSets"),
        Record<CSqlGroupEntitySet, CSqlGroupEntitySets>("GroupSets"),
        Record<CSqlInstalledSoftwareEntitySet, CSqlInstalledSoftwareEntitySets>("InstalledSoftwareSets"),
        Record<CSqlPortEntitySet, CSqlPortEntitySets>("PortSets"),
        Record<CSqlProcessEntitySet, CSqlProcessEntitySets>("ProcessSets"),
        Record<CSqlRegistryKeyEntitySet, CSqlRegistryKeyEntitySets>("RegistryKeySets"),
        Record<CSqlRegistryValueEntitySet, CSqlRegistryValueEntitySets>("RegistryValueSets"),
        Record<CSqlServiceEntitySet, CSqlServiceEntitySets>("ServiceSets"),
        Record<CSqlUserEntitySet, CSqlUserEntitySets>("UserSets"),
        Record<CSqlWqlEntitySet, CSqlWqlEntitySets>("WqlSets"),
        Record<CSqlIncludeExclude, CSqlIncludeExcludes>("IncludeExcludes"),
        Record<CSqlPattern, CSqlPatterns>("Patterns"),
        Record<CSqlFeature, CSqlFeatures>("Features"),
        Record<CSqlEntity, CSqlEntitys>("Entitys"),
        Record<CSqlAttribute, CSqlAttributes>("Attributes"),
        Record<CSqlIntegrityEvent, CSqlIntegrityEvents>("IntegrityEvents"),
        Record<CSqlScan, CSqlScans>("Scans"),
        Record<CSqlSubscan, CSqlSubscans>("Subscans"),
        Record<CSqlScanEntitySetId, CSqlScanEntitySetIds>("ScanEntitySetIds"),
        Record<CSqlScanIntegrityRuleId, CSqlScanIntegrityRuleIds>("ScanIntegrityRuleIds"),
        Record<CSqlRealtimeChange, CSqlRealtimeChanges>("RealtimeChanges"),
        Record<CSqlChangeDetail, CSqlChangeDetails>("ChangeDetails"),
    };
    return classes;
}

}  // namespace KvoTest
