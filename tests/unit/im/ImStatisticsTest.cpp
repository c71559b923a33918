#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <wx/string.h>

#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/im-plugin.h"

using namespace KvoPluginIm;

namespace {

int Metric(const wxString& name) {
    MetricMap metrics;
    EntityAttributeMetricMap attributes;
    GetMetrics(metrics, attributes);
    auto found = metrics.find(name);
    return found == metrics.end() ? 0 : found->second;
}

// Scanners, real-time threads and Lua callers count at the same time.
TEST(ImStatistics, CountersAddUpAcrossThreads) {
    const int threads = 8, perThread = 20000;
    SetMetric("test.concurrent", 0);
    InitializeAttributeCounts();
    const int ruleId = 900001;
    const int ruleBefore = GetActiveRuleStats()[ruleId];
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([=] {
            for (int i = 0; i < perThread; ++i) {
                IncMetric("test.concurrent", 1);
                IncEntityAttributeMetric("File", t % 2 ? "sha1" : "size");
                IncRuleCountStat(ruleId);
                // New keys make the maps rebalance while others insert.
                if (i % 1000 == 0) IncMetric(wxString::Format("test.key.%d.%d", t, i), 1);
            }
        });
    }
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(threads * perThread, Metric("test.concurrent"));
    MetricMap metrics;
    EntityAttributeMetricMap attributes;
    GetMetrics(metrics, attributes);
    EXPECT_EQ(threads / 2 * perThread, attributes["File"]["sha1"]);
    EXPECT_EQ(threads / 2 * perThread, attributes["File"]["size"]);
    EXPECT_EQ(ruleBefore + threads * perThread, GetActiveRuleStats()[ruleId]);
}

TEST(ImStatistics, DeletedRulesKeepTheirLastCount) {
    // Rule counts are process-wide and never reset: count from what is there.
    const int counted = 910001, neverCounted = 910002;
    const int base = GetActiveRuleStats()[counted];
    for (int i = 0; i < 3; ++i) IncRuleCountStat(counted);
    trackDeletedRuleStat("Ssh keys", counted);
    trackDeletedRuleStat("Never seen", neverCounted);
    std::map<wxString, int> inactive = GetInactiveRuleStats();
    EXPECT_EQ(base + 3, inactive.at("Deleted - Ssh keys"));
    EXPECT_EQ(0, inactive.at("Deleted - Never seen"));
    const std::map<int, int> active = GetActiveRuleStats();
    ASSERT_EQ(1u, active.count(neverCounted)) << "an uncounted rule is entered with 0";
    EXPECT_EQ(0, active.at(neverCounted));
    EXPECT_EQ(base + 3, active.at(counted)) << "tracking does not reset the active count";

    IncRuleCountStat(counted);
    trackDeletedRuleStat("Ssh keys", counted);
    EXPECT_EQ(base + 4, GetInactiveRuleStats().at("Deleted - Ssh keys")) << "tracked again: the newer count";

    untrackDeletedRuleStat("Ssh keys", counted);
    inactive = GetInactiveRuleStats();
    EXPECT_EQ(0u, inactive.count("Deleted - Ssh keys"));
    EXPECT_EQ(1u, inactive.count("Deleted - Never seen"));
    untrackDeletedRuleStat("Never seen", neverCounted);
    untrackDeletedRuleStat("Never seen", neverCounted);  // already gone: nothing to do
    EXPECT_EQ(0u, GetInactiveRuleStats().count("Deleted - Never seen"));
}

}  // namespace
