#include "plugins/im/UserSet.h"

#include "plugins/im/HostPlatform.h"

namespace KvoPluginIm {

wxString CUserSet::GetElementName() const { return wxT("UserSet"); }

wxString CUserSet::GetAllowedAttributes() const {
    return wxT("cannotChangePassword,disabled,fullName,groups,homeFolder,lockedOut,passwordHasExpired,"
               "passwordLastChanged,passwordNeverExpires,user,") +
           PlatformText(wxT("description,homeDriveLetter,logonScript,profilePath,"),
                        wxT("group,logonShell,passwordExpiredDaysBeforeDisabled,passwordExpiry,"
                            "passwordExpiryInDays,passwordMinDaysBetweenChanges,passwordWarningDays,"));
}

wxString CUserSet::GetStandardAttributes() const {
    return wxT("cannotChangePassword,disabled,groups,homeFolder,passwordHasExpired,passwordLastChanged,"
               "passwordNeverExpires,user,") +
           PlatformText(wxT("logonScript,profilePath,"),
                        wxT("group,logonShell,passwordExpiryInDays,passwordMinDaysBetweenChanges,"));
}

wxString CUserSet::GetAllowedFeatures() const {
    return wxT("disabled,group,lockedOut,passwordHasExpired,passwordNeverExpires,");
}

wxString CUserSets::GetElementName() const { return wxT("UserSets"); }

wxString CUserSets::ChildElementName() const { return wxT("UserSet"); }

KvoCore::XMLObject* CUserSets::CreateListElement() { return new CUserSet(); }

}  // namespace KvoPluginIm
