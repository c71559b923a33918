// CIdNameCache: user or group names by numeric id, remembered for a short
// while. A scan asks for the owner and group of every file it records, and
// the name service reads its files again on every lookup; names change
// rarely, so a lookup at most a minute old is good enough.
//
// Thread-safe; one instance per kind of id and agent.
#pragma once

#include <functional>
#include <mutex>
#include <unordered_map>

#include <wx/string.h>

namespace KvoCore {

class CIdNameCache {
public:
    // lookup resolves an id the cache does not hold (false: no such id).
    using Lookup = std::function<bool(unsigned long id, wxString& name)>;

    CIdNameCache(Lookup lookup, unsigned long lifetimeMs = 60000);
    CIdNameCache(const CIdNameCache&) = delete;
    CIdNameCache& operator=(const CIdNameCache&) = delete;

    // Unknown ids are remembered as unknown for the same time.
    bool Find(unsigned long id, wxString& name);

    // Lookups through the name service (passwd, group).
    static bool ResolveUser(unsigned long uid, wxString& name);
    static bool ResolveGroup(unsigned long gid, wxString& name);

private:
    struct Entry {
        bool found;
        wxString name;
        unsigned long when;
    };

    Lookup m_lookup;
    unsigned long m_lifetimeMs;
    std::mutex m_mutex;
    std::unordered_map<unsigned long, Entry> m_entries;
};

}  // namespace KvoCore
