#include "plugins/im/SystemIntegrityUserScannerThread.h"

#include <wx/filename.h>

#include "core/hmd/HostMetaDataQueries.h"
#include "plugins/im/SqlUserEntitySet.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

CUserIntegrityScanThread::CKeyMatch::CKeyMatch()
    // An include or exclude selects users by the name of their primary group.
    : CHostMetaDataIntegrityScanThread::CKeyMatch(
          CSqlUserEntitySet::EntityType(), wxFileName::IsCaseSensitive(wxPATH_NATIVE), {{wxT("group"), true}}, false) {}

CUserIntegrityScanThread::CUserIntegrityScanThread(KvoCore::CDom& dom, CSqlSubscan* subscan)
    : CHostMetaDataIntegrityScanThread(dom, subscan) {}

wxString CUserIntegrityScanThread::GetThreadName() const { return wxT("CUserIntegrityScanThread"); }

CSqlEntitySet* CUserIntegrityScanThread::CreateEntitySetObject() const { return new CSqlUserEntitySet(); }

KvoCore::XMLObjectList* CUserIntegrityScanThread::CreateEntitySetCollection() const { return new CSqlUserEntitySets(); }

const char* CUserIntegrityScanThread::GetTraceMask() const { return Keys::kTraceScannerUser; }

bool CUserIntegrityScanThread::GetHmdResult(KvoCore::CHostMetaDataQueryResult& result) const {
    return KvoCore::GetHmdUsers(result, 0, wxString());
}

void CUserIntegrityScanThread::PopulateAttributesOfInterest(const CSqlEntity& entity, const CSqlEntitySet* set,
                                                            KvoCore::MapStringToInt64Set& attributes) const {
    static const std::vector<MonitorFlag<CSqlUserEntitySet>> flags = {
        &CSqlUserEntitySet::m_monitorCannotChangePassword,
        &CSqlUserEntitySet::m_monitorDescription,
        &CSqlUserEntitySet::m_monitorDisabled,
        &CSqlUserEntitySet::m_monitorFullName,
        &CSqlUserEntitySet::m_monitorGroup,
        &CSqlUserEntitySet::m_monitorGroups,
        &CSqlUserEntitySet::m_monitorHomeDriveLetter,
        &CSqlUserEntitySet::m_monitorHomeFolder,
        &CSqlUserEntitySet::m_monitorLockedOut,
        &CSqlUserEntitySet::m_monitorLogonScript,
        &CSqlUserEntitySet::m_monitorLogonShell,
        &CSqlUserEntitySet::m_monitorPasswordExpiredDaysBeforeDisabled,
        &CSqlUserEntitySet::m_monitorPasswordExpiry,
        &CSqlUserEntitySet::m_monitorPasswordExpiryInDays,
        &CSqlUserEntitySet::m_monitorPasswordHasExpired,
        &CSqlUserEntitySet::m_monitorPasswordLastChanged,
        &CSqlUserEntitySet::m_monitorPasswordMinDaysBetweenChanges,
        &CSqlUserEntitySet::m_monitorPasswordNeverExpires,
        &CSqlUserEntitySet::m_monitorPasswordWarningDays,
        &CSqlUserEntitySet::m_monitorProfilePath,
        &CSqlUserEntitySet::m_monitorUser,
    };
    AddMonitored(entity, set, flags, attributes);
}

}  // namespace KvoPluginIm
