#include "plugins/im/SystemIntegrityGroupScannerThread.h"

#include <wx/filename.h>

#include "core/hmd/HostMetaDataQueries.h"
#include "plugins/im/SqlGroupEntitySet.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

CGroupIntegrityScanThread::CKeyMatch::CKeyMatch()
    : CHostMetaDataIntegrityScanThread::CKeyMatch(CSqlGroupEntitySet::EntityType(),
                                                  wxFileName::IsCaseSensitive(wxPATH_NATIVE), {}, false) {}

CGroupIntegrityScanThread::CGroupIntegrityScanThread(KvoCore::CDom& dom, CSqlSubscan* subscan)
    : CHostMetaDataIntegrityScanThread(dom, subscan) {}

wxString CGroupIntegrityScanThread::GetThreadName() const { return wxT("CGroupIntegrityScanThread"); }

CSqlEntitySet* CGroupIntegrityScanThread::CreateEntitySetObject() const { return new CSqlGroupEntitySet(); }

KvoCore::XMLObjectList* CGroupIntegrityScanThread::CreateEntitySetCollection() const {
    return new CSqlGroupEntitySets();
}

const char* CGroupIntegrityScanThread::GetTraceMask() const { return Keys::kTraceScannerGroup; }

bool CGroupIntegrityScanThread::GetHmdResult(KvoCore::CHostMetaDataQueryResult& result) const {
    return KvoCore::GetHmdGroups(result, 0, wxString());
}

void CGroupIntegrityScanThread::PopulateAttributesOfInterest(const CSqlEntity& entity, const CSqlEntitySet* set,
                                                             KvoCore::MapStringToInt64Set& attributes) const {
    static const std::vector<MonitorFlag<CSqlGroupEntitySet>> flags = {
        &CSqlGroupEntitySet::m_monitorDescription,
        &CSqlGroupEntitySet::m_monitorGroup,
        &CSqlGroupEntitySet::m_monitorMembers,
        &CSqlGroupEntitySet::m_monitorSubGroups,
    };
    AddMonitored(entity, set, flags, attributes);
}

}  // namespace KvoPluginIm
