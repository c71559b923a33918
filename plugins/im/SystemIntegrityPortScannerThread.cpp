#include "plugins/im/SystemIntegrityPortScannerThread.h"

#include <wx/filename.h>

#include "core/hmd/HostMetaDataQueries.h"
#include "plugins/im/SqlPortEntitySet.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

CPortIntegrityScanThread::CKeyMatch::CKeyMatch()
    // User and group are selected by name, as people write them in rules.
    : CHostMetaDataIntegrityScanThread::CKeyMatch(
          CSqlPortEntitySet::EntityType(), true,
          {{wxT("user"), true}, {wxT("group"), true}, {wxT("path"), false}, {wxT("process"), false}}, true) {}

CPortIntegrityScanThread::CPortIntegrityScanThread(KvoCore::CDom& dom, CSqlSubscan* subscan)
    : CHostMetaDataIntegrityScanThread(dom, subscan) {}

wxString CPortIntegrityScanThread::GetThreadName() const { return wxT("CPortIntegrityScanThread"); }

CSqlEntitySet* CPortIntegrityScanThread::CreateEntitySetObject() const { return new CSqlPortEntitySet(); }

KvoCore::XMLObjectList* CPortIntegrityScanThread::CreateEntitySetCollection() const { return new CSqlPortEntitySets(); }

const char* CPortIntegrityScanThread::GetTraceMask() const { return Keys::kTraceScannerPort; }

bool CPortIntegrityScanThread::GetHmdResult(KvoCore::CHostMetaDataQueryResult& result) const {
    return KvoCore::GetHmdListenPorts(result, 1, wxT("detailed"));
}

void CPortIntegrityScanThread::PopulateAttributesOfInterest(const CSqlEntity& entity, const CSqlEntitySet* set,
                                                            KvoCore::MapStringToInt64Set& attributes) const {
    static const std::vector<MonitorFlag<CSqlPortEntitySet>> flags = {
        &CSqlPortEntitySet::m_monitorCreated,   &CSqlPortEntitySet::m_monitorGroup,
        &CSqlPortEntitySet::m_monitorListeners, &CSqlPortEntitySet::m_monitorPath,
        &CSqlPortEntitySet::m_monitorProcess,   &CSqlPortEntitySet::m_monitorProcessId,
        &CSqlPortEntitySet::m_monitorUser,
    };
    AddMonitored(entity, set, flags, attributes);
}

}  // namespace KvoPluginIm
