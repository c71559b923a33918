// CEventTail: the integrity events as they are recorded: rows read through
// the plug-in's query (event mode 1) and JSON lines appended to
// <workdir>/events.jsonl (event mode 2), each event once, oldest first.
// Used by the commands that show event lines as they happen. Not
// thread-safe; one thread polls it.
#pragma once

#include <string>
#include <vector>

#include "agent/ChangeEvent.h"
#include "agent/EventQuery.h"
#include "agent/JsonEventFile.h"
#include "core/Dom.h"

namespace KvoAgent {

class CEventTail {
public:
    // named: events carry their rule's display name from the configuration.
    CEventTail(const KvoCore::CDom& dom, std::string scriptDir, bool named);

    // Only what is recorded from now on is new. False with the reason in error.
    bool Start(std::string& error);
    // Only what comes after this event id, and the JSON lines appended from
    // now on, are new.
    void StartAfter(long long eventId);
    // The events recorded since the last poll. False with the reason in error.
    bool Poll(std::vector<CChangeEvent>& fresh, std::string& error);
    // A poll found more events than one query hands out: the oldest of them were passed over.
    bool PassedOver() const { return m_passedOver; }
    // 2 when events are JSON lines rather than rows, as the last poll found.
    int EventMode() const { return m_query.EventMode(); }

private:
    void Name(std::vector<CChangeEvent>& events) const;

    KvoCore::CDom m_dom;
    CEventQuery m_query;
    CJsonEventFile m_jsonFile;
    const bool m_named;
    long long m_lastEventId = 0;
    long long m_jsonOffset = 0;
    bool m_passedOver = false;
};

}  // namespace KvoAgent
