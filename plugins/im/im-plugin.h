// The Lua module "im" and the module-wide statistics of integrity monitoring.
//
// luaopen_im registers the namespace "SLB.im" in a Lua state. The statistics
// below live as long as the shared object (which never unloads, see
// im-plugin.cpp) and may be called from any thread: the control thread,
// scanners, real-time threads and Lua callers. Metrics, rule statistics and
// rule names share the metrics lock; entity-attribute metrics and missed
// changes have a lock each. All locks are recursive.
#pragma once

#include <map>

#include <lua.hpp>
#include <wx/string.h>

#include "plugins/im/RTIM_Miss_Entry.h"

extern "C" int luaopen_im(lua_State* L);

namespace KvoPluginIm {

// Defines the class "SLB.im.OnChange" (an existing one stays in use).
void RegisterOnChangeClass(lua_State* L);

using MetricMap = std::map<wxString, int>;
using EntityAttributeMetricMap = std::map<wxString, MetricMap>;
using RTIMMissMap = std::map<wxString, RTIM_Miss_Entry>;

// --- Named counters ---
// Adds n (a missing counter starts at 0).
void IncMetric(const wxString& name, int n);
void SetMetric(const wxString& name, int n);
// Sets the sixteen entity and real-time counters to 0.
void InitializeEntityCounts();
void InitializeAttributeCounts();
void IncEntityAttributeMetric(const wxString& entityType, const wxString& attribute);
// Copies of both metric tables taken together, the attribute lock inside the
// metrics lock (the one order in which the two are ever held).
void GetMetrics(MetricMap& metrics, EntityAttributeMetricMap& attributeMetrics);

// --- Per-rule entity counts and rule names ---
void IncRuleCountStat(int ruleId);
// Keeps the count the rule had under "Deleted - " + name.
void trackDeletedRuleStat(const wxString& name, int ruleId);
void untrackDeletedRuleStat(const wxString& name, int ruleId);
std::map<int, int> GetActiveRuleStats();
std::map<wxString, int> GetInactiveRuleStats();
void AddRuleIDandName(int ruleId, const wxString& name);
void DeleteName(int ruleId);
void ClearRuleIDandNameMap();
std::map<int, wxString> GetRuleIDandNames();

// --- Missed real-time changes: at most 20 directories of at most 100 names ---
// kind 2 and 5 record the extension pattern, 3 and 6 the file name, any other
// kind the whole directory. True when a directory or name was added.
bool AddRTIMMiss(const wxString& fullPath, int kind);
// True, counting a hit, when the change falls in a missed area.
bool CheckRTIMMiss(const wxString& fullPath);
void EraseOldestRTIMMiss();
void ClearRTIMMisses();
// "dir/name,name;dir/..." in directory order; empty when nothing was missed.
wxString GetRTIMExclusions();
RTIMMissMap GetRTIMMisses();

}  // namespace KvoPluginIm
