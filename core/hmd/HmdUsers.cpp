#include <time.h>

#include <map>

#include "core/Utilities.h"
#include "core/hmd/HmdIdNames.h"
#include "core/hmd/HmdSources.h"
#include "core/hmd/HostMetaDataQueries.h"

namespace KvoCore {

namespace {

using Row = std::vector<std::string>;

// A maximum age from here on means the password never expires.
const long long kNeverExpiresDays = 99999;

bool IsNoLogonShell(const std::string& shell) {
    for (const char* closed : {"/usr/sbin/nologin", "/sbin/nologin", "/bin/false", "/usr/bin/false"})
        if (shell == closed) return true;
    return false;
}

void AppendNumber(CHostMetaData& user, const char* name, const std::string& field) {
    long long value;
    if (ParseDecimal(field, value)) user.AppendAttribute(name, toDecimalString(value));
}

void AddPasswdAttributes(CHostMetaData& user, const Row& passwd, const std::vector<Row>& groups,
                         const HmdIdNames& names) {
    long long gid;
    AppendNumber(user, "user", passwd[2]);
    user.AppendAttribute("userFriendly", BytesToText(passwd[0]));
    AppendNumber(user, "group", passwd[3]);
    wxString groupName;
    if (ParseDecimal(passwd[3], gid) && names.GroupName(gid, groupName)) user.AppendAttribute("groupFriendly", groupName);
    for (const Row& group : groups)
        for (const std::string& member : SplitFields(group[3], ','))
            if (member == passwd[0]) {
                user.AppendAttribute("groups", BytesToText(group[0]));
                break;
            }
    user.AppendAttribute("fullName", BytesToText(SplitFields(passwd[4], ',')[0]));
    user.AppendAttribute("homeFolder", BytesToText(passwd[5]));
    user.AppendAttribute("logonShell", BytesToText(passwd[6]));
}

// Adds the password ageing of a shadow line; true when the account has expired.
bool AddShadowAttributes(CHostMetaData& user, const Row& shadow, long long today) {
    long long lastChange = -1, maxDays = -1, expire = -1;
    // A last change of 0 asks for a new password at the next logon: as old as can be.
    if (ParseDecimal(shadow[2], lastChange)) user.AppendAttribute("passwordLastChanged", IsoDay(lastChange));
    AppendNumber(user, "passwordMinDaysBetweenChanges", shadow[3]);
    AppendNumber(user, "passwordExpiryInDays", shadow[4]);
    AppendNumber(user, "passwordWarningDays", shadow[5]);
    AppendNumber(user, "passwordExpiredDaysBeforeDisabled", shadow[6]);
    bool hasMax = ParseDecimal(shadow[4], maxDays) && maxDays < kNeverExpiresDays;
    if (hasMax && lastChange >= 0) {
        user.AppendAttribute("passwordExpiry", IsoDay(lastChange + maxDays));
        user.AppendAttribute("passwordHasExpired", toString(today > lastChange + maxDays));
    } else if (!hasMax) {
        user.AppendAttribute("passwordHasExpired", toString(false));
    }
    user.AppendAttribute("passwordNeverExpires", toString(!hasMax));
    user.AppendAttribute("lockedOut", toString(shadow[1].compare(0, 1, "!") == 0));
    // As login does: the account is closed from its expiry day on.
    return ParseDecimal(shadow[7], expire) && today >= expire;
}

}  // namespace

bool GetHmdUsers(CHostMetaDataQueryResult& result, int /*flags*/, const wxString& /*format*/) {
    result.Clear();
    std::vector<Row> passwd, groups, shadow;
    if (!ReadAccountFile("/etc/passwd", 7, passwd)) return false;
    ReadAccountFile("/etc/group", 4, groups);
    std::map<std::string, const Row*> shadowByName;
    if (ReadAccountFile("/etc/shadow", 8, shadow))
        for (const Row& row : shadow) shadowByName.emplace(row[0], &row);
    HmdIdNames names;
    names.Load();
    const long long today = static_cast<long long>(time(nullptr)) / 86400;

    for (const Row& row : passwd) {
        auto user = std::make_unique<CHostMetaData>("User", BytesToText(row[0]));
        AddPasswdAttributes(*user, row, groups, names);
        bool expired = false;
        auto found = shadowByName.find(row[0]);
        if (found != shadowByName.end()) expired = AddShadowAttributes(*user, *found->second, today);
        user->AppendAttribute("disabled", toString(expired || IsNoLogonShell(row[6])));
        result.Add(std::move(user));
    }
    result.SortByKey();
    return true;
}

}  // namespace KvoCore
