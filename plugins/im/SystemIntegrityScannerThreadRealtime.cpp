// CIntegrityScanThread: step 250000, the changes that the real-time engine
// recorded in RealtimeChanges and ChangeDetails. Only the changed keys are
// examined; each key's details are condensed and processed in order, and the
// key's change rows go in the batch that records what they caused.
#include <wx/wxsqlite3.h>

#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/Utilities.h"
#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlIntegrityRule.h"
#include "plugins/im/SqlRealtimeChangeDetail.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SystemIntegrityKeyMatch.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/im-plugin.h"

namespace KvoPluginIm {
namespace {

// More consecutive failures than this on one key, and the key is left for a later scan.
const int kMaxConsecutiveFailures = 5;
const unsigned int kPauseAfterFailureMsec = 500;
const int kChangeUpdate = 2;
const int kChangeDelete = 3;
const int kChangeRename = 4;
// The rule record keeps its severity private; the column is named after it.
const wxChar* const kRuleSeverityColumn = wxT("severity");

// Appends text to list unless it is empty or there already.
void AddDistinct(std::vector<wxString>& list, const wxString& text) {
    if (text.empty()) return;
    for (const wxString& known : list)
        if (known == text) return;
    list.push_back(text);
}

wxString JoinLines(const std::vector<wxString>& list) {
    wxString joined;
    for (const wxString& text : list) joined << (joined.empty() ? "" : "\n") << text;
    return joined;
}

}  // namespace

bool CIntegrityScanThread::OnProcessRealtimeChanges() {
    const wxString type = GetEntityType();
    std::map<wxString, int> failures;
    // Passes until no key is left: changes recorded while the step runs are taken too.
    for (;;) {
        std::vector<std::pair<wxString, wxString>> work;
        {
            wxSQLite3Statement& select = *Stmt().realtimeChangeKeys;
            StatementRelease release(select);
            select.Bind(1, type);
            wxSQLite3ResultSet rows = select.ExecuteQuery();
            std::map<wxString, size_t> seen;
            while (rows.NextRow()) {
                const wxString key = rows.GetString(0);
                if (m_givenUpKeys.count(key) != 0) continue;
                const wxString ids = rows.GetString(1);
                // A key recorded twice is one item: its details are read by key.
                auto found = seen.find(key);
                if (found == seen.end()) {
                    seen.emplace(key, work.size());
                    work.emplace_back(key, ids);
                } else if (ids != work[found->second].second) {
                    work[found->second].second << "," << ids;
                }
            }
        }
        if (work.empty()) break;
        KVO_SCANNER_TRACE("Processing change records for %u different entities.", static_cast<unsigned>(work.size()));
        const std::unique_ptr<CSqlEntitySet> setTemplate(CreateEntitySetObject());
        std::map<wxString, std::unique_ptr<RealtimeSets>> setsByList;
        unsigned long lastCommit = KvoCore::SystemTickCount();
        for (const auto& [key, ids] : work) {
            if (ShouldShutdown()) {
                // What is done stays done; the rest is left for the step's next run.
                CommitOpenTransaction();
                return true;
            }
            try {
                auto loaded = setsByList.find(ids);
                if (loaded == setsByList.end())
                    loaded = setsByList.emplace(ids, LoadRealtimeSets(*setTemplate, ids)).first;
                if (!ProcessRealtimeChanges(loaded->second.get(), key)) {
                    RollbackOpenTransaction();
                    return false;
                }
                failures.erase(key);
                if (KvoCore::SystemTickCount() - lastCommit > static_cast<unsigned long>(m_commitIntervalMsec)) {
                    CommitOpenTransaction();
                    lastCommit = KvoCore::SystemTickCount();
                }
            } catch (const wxSQLite3Exception& e) {
                if (KvoCore::CSqliteDatabase::IsDiskFull(e)) throw;
                m_dom.DoAgentEventWriteAndLog(3010, KvoCore::LogLevel::Error, "%s scanner accessing si.db for %s: %s",
                                              type, key, e.GetMessage());
                TestDestroy(kPauseAfterFailureMsec, nullptr);
                // The keys of the batch undone are still recorded: the next pass takes them again.
                RollbackOpenTransaction();
                if (++failures[key] > kMaxConsecutiveFailures) {
                    KvoCore::LogWarning(wxString::Format("Giving up on %s '%s' after %d consecutive failures", type,
                                                         key, failures[key]));
                    m_givenUpKeys.insert(key);
                }
                break;
            }
        }
    }
    CommitOpenTransaction();
    SetNextStep(StepScanPostProcessing);
    return true;
}

std::unique_ptr<CIntegrityScanThread::RealtimeSets> CIntegrityScanThread::LoadRealtimeSets(
    const CSqlEntitySet& setTemplate, const wxString& entitySetIds) {
    auto loaded = std::make_unique<RealtimeSets>();
    if (!KvoCore::fromList(entitySetIds, loaded->ids)) return nullptr;
    loaded->sets.reset(CreateEntitySetCollection());
    if (loaded->ids.empty()) return loaded;
    const wxString ruleId = setTemplate.GetAttributeName(&setTemplate.m_integrityRuleId);
    const wxString setId = setTemplate.GetAttributeName(&setTemplate.m_entitySetId);
    // Joined by rule id alone: a set table may share other column names with the rules.
    wxSQLite3ResultSet rows = Db().ExecuteQuery(wxString::Format(
        "SELECT s.*,r.[%1$s] AS [ruleSeverity] FROM [%2$ss] AS s JOIN [%3$ss] AS r ON r.[%4$s]=s.[%4$s] "
        "WHERE s.[%5$s] IN %6$s ORDER BY s.[%5$s];",
        kRuleSeverityColumn, setTemplate.GetElementName(), CSqlIntegrityRule::ElementName(), ruleId, setId,
        KvoCore::toList(loaded->ids, ',', true)));
    while (rows.NextRow()) {
        KvoCore::XMLObject* set = loaded->sets->CreateListElement();
        set->SQLLoad(rows);
        loaded->sets->Append(set);
        const CSqlEntitySet& member = static_cast<const CSqlEntitySet&>(*set);
        if (!rows.IsNull(wxString("ruleSeverity"))) loaded->severities[member.m_integrityRuleId] = rows.GetInt("ruleSeverity");
    }
    return loaded;
}

bool CIntegrityScanThread::ProcessRealtimeChanges(const RealtimeSets* sets, const wxString& keyCanonical) {
    const unsigned long started = KvoCore::SystemTickCount();
    const wxString type = GetEntityType();
    if (sets == nullptr) {
        KvoCore::LogError(wxString::Format("Error parsing entitySetIds in realtime change records for %s %s", type,
                                           keyCanonical));
        m_givenUpKeys.insert(keyCanonical);
        return true;
    }

    CSqlRealtimeChangeDetails details;
    {
        wxSQLite3Statement& select = *Stmt().realtimeChangeDetailsOfKey;
        StatementRelease release(select);
        select.Bind(1, type);
        select.Bind(2, keyCanonical);
        wxSQLite3ResultSet rows = select.ExecuteQuery();
        details.SQLLoad(rows);
    }
    for (size_t i = 0; i < details.size(); ++i)
        KVO_SCANNER_TRACE("RealtimeChange %s Key %s WhenChangedFirst %ld WhenChangedLast %ld", type, keyCanonical,
                          static_cast<long>(details.at(i).m_whenChangedFirst),
                          static_cast<long>(details.at(i).m_whenChangedLast));
    CondenseChangeRecords(details);

    // Path keys name a directory without its trailing separator, as a walk records it.
    wxString key = keyCanonical;
    const wxString separator = GetKeyMatcher()->GetEntityKeySeparator();
    if (!separator.empty() && key.length() > separator.length() && key.EndsWith(separator))
        key.RemoveLast(separator.length());
    BeginTransaction();
    for (size_t i = 0; i < details.size(); ++i) {
        const CSqlRealtimeChangeDetail& detail = details.at(i);
        // An update that a delete followed can no longer be examined: the
        // delete reports the key, with who deleted it.
        if (detail.m_change == kChangeUpdate && i + 1 < details.size() && details.at(i + 1).m_change == kChangeDelete)
            continue;
        const bool gather = detail.m_change != kChangeDelete || ReexamineDeletedKeys();
        // Who wrote a file after moving it is told by the update that
        // follows the move; when that notification is still to come, the
        // change is reported without naming anyone rather than the mover.
        // Only a move tells of a change apart from itself; a record made for
        // every key cost as much as its delete.
        const bool updateFollows = i + 1 < details.size() && details.at(i + 1).m_change == kChangeUpdate;
        std::optional<CSqlRealtimeChangeDetail> unnamed;
        if (!updateFollows && detail.m_change == kChangeRename) {
            unnamed.emplace();
            unnamed->m_change = kChangeUpdate;
            unnamed->m_whenChangedFirst = detail.m_whenChangedFirst;
            unnamed->m_whenChangedLast = detail.m_whenChangedLast;
        }
        const CSqlRealtimeChangeDetail& changedBy = updateFollows ? details.at(i + 1) : unnamed ? *unnamed : detail;
        if (!ProcessRealtimeChange(type, key, sets->ids, *sets->sets, sets->severities, detail, changedBy, gather))
            return false;
        AfterCommit([] { IncMetric("realtimeEventEntityProcessed", 1); });
    }
    {
        wxSQLite3Statement& remove = *Stmt().deleteRealtimeChange;
        StatementRelease release(remove);
        remove.Bind(1, type);
        remove.Bind(2, keyCanonical);
        remove.ExecuteUpdate();
    }
    if (const unsigned elapsed = StatsElapsedMsec(started))
        TraceStats(wxString::Format("%u msec processing %d realtime change records for %s %s", elapsed,
                                    static_cast<int>(details.size()), type, keyCanonical));
    return true;
}

void CIntegrityScanThread::CondenseChangeRecords(CSqlRealtimeChangeDetails& details) {
    const size_t before = details.size();
    size_t runStart = 0;
    for (size_t i = 0; i <= details.size(); ++i) {
        if (i < details.size() && details.at(i).m_change == kChangeUpdate) continue;
        // details[runStart, i) is a run of updates: its last one stands for it.
        if (i - runStart > 1) {
            std::vector<wxString> users, processes;
            for (size_t n = runStart; n < i; ++n) {
                AddDistinct(users, details.at(n).m_user);
                AddDistinct(processes, details.at(n).m_process);
            }
            CSqlRealtimeChangeDetail& last = details.at(i - 1);
            last.m_user = JoinLines(users);
            last.m_process = JoinLines(processes);
            for (size_t n = runStart; n < i - 1; ++n) details.RemoveAt(runStart);
            i = runStart + 1;
        }
        runStart = i + 1;
    }
    if (details.size() == before) return;
    IncMetric("realtimeEventDroppedCondensing", static_cast<int>(before - details.size()));
    KVO_SCANNER_TRACE("Condensed %u realtime changes down to %u", static_cast<unsigned>(before),
                      static_cast<unsigned>(details.size()));
}

}  // namespace KvoPluginIm
