#include "core/IdNameCache.h"

#include <grp.h>
#include <pwd.h>

#include <vector>

#include "core/Utilities.h"

namespace KvoCore {

CIdNameCache::CIdNameCache(Lookup lookup, unsigned long lifetimeMs)
    : m_lookup(std::move(lookup)), m_lifetimeMs(lifetimeMs) {}

bool CIdNameCache::Find(unsigned long id, wxString& name) {
    const unsigned long now = SystemTickCount();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(id);
        if (it != m_entries.end() && now - it->second.when < m_lifetimeMs) {
            if (it->second.found) name = it->second.name;
            return it->second.found;
        }
    }
    // Resolved outside the lock: the name service may be slow, and two
    // threads resolving the same id at once is harmless.
    Entry entry{false, wxString(), now};
    entry.found = m_lookup(id, entry.name);
    if (entry.found) name = entry.name;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries[id] = entry;
    return entry.found;
}

bool CIdNameCache::ResolveUser(unsigned long uid, wxString& name) {
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    name = wxString::FromUTF8(found->pw_name);
    return true;
}

bool CIdNameCache::ResolveGroup(unsigned long gid, wxString& name) {
    std::vector<char> buffer(65536);
    struct group entry;
    struct group* found = nullptr;
    if (getgrgid_r(static_cast<gid_t>(gid), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    name = wxString::FromUTF8(found->gr_name);
    return true;
}

}  // namespace KvoCore
