#include "plugins/im/SqlUserEntitySet.h"

namespace KvoPluginIm {

CSqlUserEntitySet::CSqlUserEntitySet() {
    AddAttribute(wxT("monitorCannotChangePassword"), &m_monitorCannotChangePassword, false);
    AddAttribute(wxT("monitorDescription"), &m_monitorDescription, false);
    AddAttribute(wxT("monitorDisabled"), &m_monitorDisabled, false);
    AddAttribute(wxT("monitorFullName"), &m_monitorFullName, false);
    AddAttribute(wxT("monitorGroup"), &m_monitorGroup, false);
    AddAttribute(wxT("monitorGroups"), &m_monitorGroups, false);
    AddAttribute(wxT("monitorHomeDriveLetter"), &m_monitorHomeDriveLetter, false);
    AddAttribute(wxT("monitorHomeFolder"), &m_monitorHomeFolder, false);
    AddAttribute(wxT("monitorLockedOut"), &m_monitorLockedOut, false);
    AddAttribute(wxT("monitorLogonScript"), &m_monitorLogonScript, false);
    AddAttribute(wxT("monitorLogonShell"), &m_monitorLogonShell, false);
    AddAttribute(wxT("monitorPasswordExpiredDaysBeforeDisabled"), &m_monitorPasswordExpiredDaysBeforeDisabled,
                 false);
    AddAttribute(wxT("monitorPasswordExpiry"), &m_monitorPasswordExpiry, false);
    AddAttribute(wxT("monitorPasswordExpiryInDays"), &m_monitorPasswordExpiryInDays, false);
    AddAttribute(wxT("monitorPasswordHasExpired"), &m_monitorPasswordHasExpired, false);
    AddAttribute(wxT("monitorPasswordLastChanged"), &m_monitorPasswordLastChanged, false);
    AddAttribute(wxT("monitorPasswordMinDaysBetweenChanges"), &m_monitorPasswordMinDaysBetweenChanges, false);
    AddAttribute(wxT("monitorPasswordNeverExpires"), &m_monitorPasswordNeverExpires, false);
    AddAttribute(wxT("monitorPasswordWarningDays"), &m_monitorPasswordWarningDays, false);
    AddAttribute(wxT("monitorProfilePath"), &m_monitorProfilePath, false);
    AddAttribute(wxT("monitorUser"), &m_monitorUser, false);
}

}  // namespace KvoPluginIm
