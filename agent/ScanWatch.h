// CScanWatch: follows one integrity scan of a given kind (0 baseline, 1
// incremental) from outside the plug-in, through a read-only connection to
// si.db. It never writes: the plug-in's own threads own the file.
//
// Which scan counts is fixed by Choose() before the agent starts: an
// unfinished scan of the kind that the agent will resume (one with a subscan
// still to run), else the first scan of the kind created afterwards. A watch
// may also accept a baseline in place of its kind: the agent runs one instead
// when it has none, or the rules changed. Poll() then tells how far that scan
// got. Not thread-safe; one thread uses it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <wx/string.h>

#include "core/SqliteDatabase.h"

namespace KvoAgent {

class CScanWatch {
public:
    enum class State {
        Waiting,     // the scan has not been created yet
        Running,     // created, not completed
        Completed,   // every subscan finished and the scan closed
        Failed,      // it cannot complete; Status::reason says why
        Unreadable,  // si.db cannot be read; Status::reason says why
    };
    struct Status {
        State state = State::Waiting;
        long long scanId = 0;
        int scanKind = -1;               // of the scan, once known
        long long entitiesRecorded = 0;  // rows added since the scan started
        wxString entityType;             // of the subscan that ran last
        int step = 0;                    // its step and checkpoint
        wxString checkpoint;
        wxString reason;
    };
    struct Rule {
        long long id;
        wxString name;
        wxString identifier;
    };
    struct Summary {
        long long scanId = 0;
        int scanKind = -1;
        long long durationMs = 0;
        std::vector<std::pair<wxString, long long>> currentEntities;  // per type, by name
        std::map<int, long long> eventCounts;                         // rows per change, when asked for
    };

    // orBaseline: a baseline scan the agent runs instead counts as well.
    CScanWatch(KvoCore::CDom& dom, int scanKind, bool orBaseline = false);
    CScanWatch(const CScanWatch&) = delete;
    CScanWatch& operator=(const CScanWatch&) = delete;

    // False when the file cannot be opened; the log says why.
    bool Open(const wxString& dbPath);
    void Close();
    // True when an unfinished scan will be resumed. Throws wxSQLite3Exception.
    bool Choose();
    long long ResumedScanId() const { return m_resumed ? m_scanId : 0; }
    int ResumedKind() const { return m_resumed ? m_foundKind : -1; }
    // Set by Choose(): the highest integrity event id from before the scan,
    // and whether rules had been stored (by an earlier baseline).
    long long HighestEventIdBefore() const { return m_highestEventBefore; }
    bool HadRules() const { return m_hadRules; }
    Status Poll();
    // After State::Completed. Throws wxSQLite3Exception.
    Summary ReadSummary();
    // The rules a completed baseline covered. Throws wxSQLite3Exception.
    std::vector<Rule> ReadRulesCovered();
    // The integrity events kept as rows after HighestEventIdBefore(), per change. Throws wxSQLite3Exception.
    std::map<int, long long> CountEventsAfter();

private:
    void FindScan(Status& status);
    void ReadScan(Status& status);
    void ReadUnfinishedSubscans(Status& status);
    void ReadProgress(Status& status);
    void ReadHistory();
    wxString KindCondition(const wxString& column) const;

    std::unique_ptr<KvoCore::CSqliteDatabase> m_db;
    const int m_scanKind;
    const bool m_orBaseline;
    bool m_resumed = false;
    long long m_highestEventBefore = 0;
    bool m_hadRules = false;
    long long m_highestAtStart = 0;  // scans above it are new
    long long m_scanId = 0;          // 0 until the scan is known
    int m_foundKind = -1;
    long long m_scanStartTime = 0;   // tells a reused id from the scan itself
    long long m_firstEntityId = 0;   // entities above it were recorded by the scan
    long long m_countedUpTo = 0;     // entity rows counted so far end here
    long long m_entitiesRecorded = 0;
};

}  // namespace KvoAgent
