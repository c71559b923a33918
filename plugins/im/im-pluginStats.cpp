// Module-wide counters, entity-attribute metrics, per-rule entity counts and
// rule names.
#include <wx/thread.h>

#include "plugins/im/im-plugin.h"

namespace KvoPluginIm {

namespace {

wxMutex s_metricsLock(wxMUTEX_RECURSIVE);
wxMutex s_entityAttributeMetricsLock(wxMUTEX_RECURSIVE);

MetricMap Metrics;
EntityAttributeMetricMap EntityAttributeMetrics;
// Scanners update the rule maps concurrently; a std::map being inserted into
// cannot be read or written at the same time, so they share the metrics lock.
std::map<int, int> ActiveRuleStats;
std::map<wxString, int> InactiveRuleStats;
std::map<int, wxString> RuleIDandName;

const char* const kEntityCounters[] = {
    "entitiesInTable",          "entitiesDeleted",          "entitiesCreated",
    "entitiesSentToTzm",        "entitiesSuperceded",       "entitiesMarkeredCreated",
    "entitiesMarkeredDeleted",  "entitiesIncompleteDeleted", "realtimeEventReceived",
    "realtimeEventDroppedNoOnc", "realtimeEventDroppedDbNoInit", "realtimeEventDroppedDbErr",
    "realtimeEventDroppedNotInRules", "realtimeEventAdded2Cache", "realtimeEventDroppedCondensing",
    "realtimeEventEntityProcessed",
};

wxString DeletedRuleKey(const wxString& name) { return "Deleted - " + name; }

}  // namespace

void IncMetric(const wxString& name, int n) {
    wxMutexLocker lock(s_metricsLock);
    Metrics[name] += n;
}

void SetMetric(const wxString& name, int n) {
    wxMutexLocker lock(s_metricsLock);
    Metrics[name] = n;
}

void InitializeEntityCounts() {
    wxMutexLocker lock(s_metricsLock);
    for (const char* name : kEntityCounters) Metrics[name] = 0;
}

void InitializeAttributeCounts() {
    wxMutexLocker lock(s_entityAttributeMetricsLock);
    EntityAttributeMetrics.clear();
}

void IncEntityAttributeMetric(const wxString& entityType, const wxString& attribute) {
    wxMutexLocker lock(s_entityAttributeMetricsLock);
    EntityAttributeMetrics[entityType][attribute] += 1;
}

void GetMetrics(MetricMap& metrics, EntityAttributeMetricMap& attributeMetrics) {
    wxMutexLocker lock(s_metricsLock);
    metrics = Metrics;
    wxMutexLocker attributeLock(s_entityAttributeMetricsLock);
    attributeMetrics = EntityAttributeMetrics;
}

void IncRuleCountStat(int ruleId) {
    wxMutexLocker lock(s_metricsLock);
    ActiveRuleStats[ruleId] += 1;
}

void trackDeletedRuleStat(const wxString& name, int ruleId) {
    wxMutexLocker lock(s_metricsLock);
    // operator[] inserts a rule never counted with 0, as the statistics expect.
    InactiveRuleStats[DeletedRuleKey(name)] = ActiveRuleStats[ruleId];
}

void untrackDeletedRuleStat(const wxString& name, int /*ruleId*/) {
    wxMutexLocker lock(s_metricsLock);
    InactiveRuleStats.erase(DeletedRuleKey(name));
}

std::map<int, int> GetActiveRuleStats() {
    wxMutexLocker lock(s_metricsLock);
    return ActiveRuleStats;
}

std::map<wxString, int> GetInactiveRuleStats() {
    wxMutexLocker lock(s_metricsLock);
    return InactiveRuleStats;
}

void AddRuleIDandName(int ruleId, const wxString& name) {
    wxMutexLocker lock(s_metricsLock);
    RuleIDandName[ruleId] = name;
}

void DeleteName(int ruleId) {
    wxMutexLocker lock(s_metricsLock);
    RuleIDandName.erase(ruleId);
}

void ClearRuleIDandNameMap() {
    wxMutexLocker lock(s_metricsLock);
    RuleIDandName.clear();
}

std::map<int, wxString> GetRuleIDandNames() {
    wxMutexLocker lock(s_metricsLock);
    return RuleIDandName;
}

}  // namespace KvoPluginIm
