// CSqlUserEntitySet: one row of "UserSets" (which attributes of a
// user set are monitored), and its list.
#pragma once

#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlUserEntitySet : public CSqlEntitySet {
public:
    CSqlUserEntitySet();

    static wxString ElementName() { return wxT("UserSet"); }
    static wxString EntityType() { return wxT("User"); }
    wxString GetElementName() const override { return ElementName(); }
    wxString GetEntityType() const override { return EntityType(); }

    bool m_monitorCannotChangePassword = false;
    bool m_monitorDescription = false;
    bool m_monitorDisabled = false;
    bool m_monitorFullName = false;
    bool m_monitorGroup = false;
    bool m_monitorGroups = false;
    bool m_monitorHomeDriveLetter = false;
    bool m_monitorHomeFolder = false;
    bool m_monitorLockedOut = false;
    bool m_monitorLogonScript = false;
    bool m_monitorLogonShell = false;
    bool m_monitorPasswordExpiredDaysBeforeDisabled = false;
    bool m_monitorPasswordExpiry = false;
    bool m_monitorPasswordExpiryInDays = false;
    bool m_monitorPasswordHasExpired = false;
    bool m_monitorPasswordLastChanged = false;
    bool m_monitorPasswordMinDaysBetweenChanges = false;
    bool m_monitorPasswordNeverExpires = false;
    bool m_monitorPasswordWarningDays = false;
    bool m_monitorProfilePath = false;
    bool m_monitorUser = false;
};

class CSqlUserEntitySets : public CSqlRecordList<CSqlUserEntitySet> {};

}  // namespace KvoPluginIm
