#include "core/Utilities.h"
#include "core/hmd/HmdSources.h"
#include "core/hmd/HostMetaDataQueries.h"

namespace KvoCore {

bool GetHmdGroups(CHostMetaDataQueryResult& result, int /*flags*/, const wxString& /*format*/) {
    result.Clear();
    std::vector<std::vector<std::string>> rows;
    if (!ReadAccountFile("/etc/group", 4, rows)) return false;
    for (const auto& row : rows) {
        auto group = std::make_unique<CHostMetaData>("Group", BytesToText(row[0]));
        long long gid;
        if (ParseDecimal(row[2], gid)) group->AppendAttribute("group", toDecimalString(gid));
        // No members, no attribute: an attribute holds at least one value.
        for (const std::string& member : SplitFields(row[3], ','))
            if (!member.empty()) group->AppendAttribute("members", BytesToText(member));
        result.Add(std::move(group));
    }
    result.SortByKey();
    return true;
}

}  // namespace KvoCore
