// CChangeReport: prints the integrity events of one `kvo-agent check` for
// people (one line per event, an update's attributes below it) or as JSON
// lines, and turns them into the command's exit status: the bits of what
// changed, 1 created, 2 deleted, 4 updated, 8 renamed, 0 for nothing.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "agent/ChangeEvent.h"

namespace KvoAgent {

class CChangeReport {
public:
    // changeCounts: events per change code when events holds only part of them
    // (the newest); empty when events is complete.
    CChangeReport(std::vector<CChangeEvent> events, std::map<int, long long> changeCounts);

    int ExitBits() const;
    // "nothing changed", or the count per change ("1 created, 2 updated").
    std::string CountsText() const;
    void PrintText(FILE* out) const;
    void PrintJson(FILE* out) const;
    static std::string TimeText(long long timeMs);
    static wxString Joined(const wxString& lines);
    // An attribute value for people: timestamps as times, "(none)" for nothing.
    static std::string ValueText(const wxString& name, const wxString& value);

private:
    std::map<int, long long> Counts() const;

    std::vector<CChangeEvent> m_events;
    std::map<int, long long> m_changeCounts;
};

}  // namespace KvoAgent
