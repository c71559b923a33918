#include "core/hmd/HmdIdNames.h"

#include <vector>

#include "core/hmd/HmdSources.h"

namespace KvoCore {

static bool FindName(const std::map<long long, std::string>& names, long long id, wxString& name) {
    auto it = names.find(id);
    if (it == names.end()) return false;
    name = BytesToText(it->second);
    return true;
}

bool HmdIdNames::UserName(long long uid, wxString& name) const { return FindName(users, uid, name); }
bool HmdIdNames::GroupName(long long gid, wxString& name) const { return FindName(groups, gid, name); }

void HmdIdNames::Load() {
    std::vector<std::vector<std::string>> rows;
    long long id;
    if (ReadAccountFile("/etc/passwd", 7, rows))
        for (const auto& row : rows)
            if (ParseDecimal(row[2], id)) users.emplace(id, row[0]);
    if (ReadAccountFile("/etc/group", 4, rows))
        for (const auto& row : rows)
            if (ParseDecimal(row[2], id)) groups.emplace(id, row[0]);
}

}  // namespace KvoCore
