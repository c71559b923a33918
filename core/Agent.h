// CAgent: what one agent process holds; shared by every CDom handle.
// Internal to the agent core.
#pragma once

#include <atomic>
#include <mutex>

#include <wx/string.h>

#include "core/Conditions.h"
#include "core/DatabaseKey.h"
#include "core/Configuration.h"
#include "core/IdNameCache.h"
#include "core/MessageBus.h"
#include "core/StateStore.h"

namespace KvoCore {

class CAgent {
public:
    CAgent() = default;
    ~CAgent();
    CAgent(const CAgent&) = delete;
    CAgent& operator=(const CAgent&) = delete;

    // Prepares the work directory and its files; false with the reason in error.
    bool Open(const wxString& workdir, wxString& error);
    // Appends one line with a single write so concurrent writers never interleave.
    bool AppendLine(int fd, const std::string& line);

    wxString workdir;  // without trailing separator
    CStateStore state;
    CConditions conditions;
    CConfiguration configuration;
    CMessageBus messageBus;
    CIdNameCache userNames{CIdNameCache::ResolveUser};
    CIdNameCache groupNames{CIdNameCache::ResolveGroup};
    std::atomic<bool> stopRequested{false};
    std::mutex keyMutex;
    CDatabaseKey integrityDbKey;  // guarded by keyMutex
    int agentEventsFd = -1;
    int eventsFd = -1;
    int iotEventsFd = -1;
};

}  // namespace KvoCore
