// HmdIdNames: the names of user and group ids, read once per query from
// /etc/passwd and /etc/group, the first line of an id winning as it does for
// the name service. Owned by the query that loads it.
#pragma once

#include <map>
#include <string>

#include <wx/string.h>

namespace KvoCore {

struct HmdIdNames {
    std::map<long long, std::string> users;
    std::map<long long, std::string> groups;

    void Load();
    bool UserName(long long uid, wxString& name) const;
    bool GroupName(long long gid, wxString& name) const;
};

}  // namespace KvoCore
