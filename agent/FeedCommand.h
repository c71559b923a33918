// CFeedCommand: `kvo-agent feed`, carried out inside the running agent. It
// takes external entity records (one XML Entity element per line, the form
// `kvo-agent entities --xml` prints), checks every one against the agent's
// integrity database, and only when all are sound puts each on the message
// bus queue of its entity type, then the end marker of each type fed (of
// "File" when none was). A record that is not sound is named with the
// reason, and then nothing is put on any queue. Used once, on one thread.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <wx/string.h>

#include "agent/CommandStreams.h"
#include "core/Dom.h"
#include "core/SqliteDatabase.h"

namespace KvoAgent {

class CFeedCommand {
public:
    CFeedCommand(KvoCore::CDom& dom, const CCommandStreams& io) : m_dom(dom), m_io(io) {}

    // The exit status: 0 when everything was queued, 65 for records that are
    // not sound, 69 when the integrity database cannot be read.
    int Run(const std::vector<std::string>& lines);

    // The queue of an entity type's external entities.
    static std::string QueueOf(const wxString& entityType);

private:
    // The record's entity type, or the reason it is not sound in problem.
    wxString Check(KvoCore::CSqliteDatabase& db, const std::string& line, wxString& problem);
    // The rule of the entity set, or -1 when the type has no such set.
    long long RuleOfSet(KvoCore::CSqliteDatabase& db, const wxString& entityType, long long entitySetId);

    KvoCore::CDom& m_dom;
    CCommandStreams m_io;
};

}  // namespace KvoAgent
