#include "plugins/im/SystemIntegrityInstalledSoftwareScannerThread.h"

#include <wx/filename.h>

#include "core/hmd/HostMetaDataQueries.h"
#include "plugins/im/SqlInstalledSoftwareEntitySet.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

CInstalledSoftwareIntegrityScanThread::CKeyMatch::CKeyMatch()
    : CHostMetaDataIntegrityScanThread::CKeyMatch(CSqlInstalledSoftwareEntitySet::EntityType(), true,
                                                  {{wxT("manufacturer"), false}}, false) {}

CInstalledSoftwareIntegrityScanThread::CInstalledSoftwareIntegrityScanThread(KvoCore::CDom& dom, CSqlSubscan* subscan)
    : CHostMetaDataIntegrityScanThread(dom, subscan) {}

wxString CInstalledSoftwareIntegrityScanThread::GetThreadName() const {
    return wxT("CInstalledSoftwareIntegrityScanThread");
}

CSqlEntitySet* CInstalledSoftwareIntegrityScanThread::CreateEntitySetObject() const {
    return new CSqlInstalledSoftwareEntitySet();
}

KvoCore::XMLObjectList* CInstalledSoftwareIntegrityScanThread::CreateEntitySetCollection() const {
    return new CSqlInstalledSoftwareEntitySets();
}

const char* CInstalledSoftwareIntegrityScanThread::GetTraceMask() const { return Keys::kTraceScannerInstalledSoftware; }

bool CInstalledSoftwareIntegrityScanThread::GetHmdResult(KvoCore::CHostMetaDataQueryResult& result) const {
    return KvoCore::GetHmdInstalledSoftware(result, 0, wxString());
}

void CInstalledSoftwareIntegrityScanThread::PopulateAttributesOfInterest(
    const CSqlEntity& entity, const CSqlEntitySet* set, KvoCore::MapStringToInt64Set& attributes) const {
    static const std::vector<MonitorFlag<CSqlInstalledSoftwareEntitySet>> flags = {
        &CSqlInstalledSoftwareEntitySet::m_monitorInstalledDate,
        &CSqlInstalledSoftwareEntitySet::m_monitorInstallLocation,
        &CSqlInstalledSoftwareEntitySet::m_monitorManufacturer,
        &CSqlInstalledSoftwareEntitySet::m_monitorName,
        &CSqlInstalledSoftwareEntitySet::m_monitorParent,
        &CSqlInstalledSoftwareEntitySet::m_monitorSize,
        &CSqlInstalledSoftwareEntitySet::m_monitorVersion,
    };
    AddMonitored(entity, set, flags, attributes);
}

}  // namespace KvoPluginIm
