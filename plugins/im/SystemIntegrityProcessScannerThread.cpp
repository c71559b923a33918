#include "plugins/im/SystemIntegrityProcessScannerThread.h"

#include <wx/filename.h>

#include "core/hmd/HostMetaDataQueries.h"
#include "plugins/im/SqlProcessEntitySet.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

CProcessIntegrityScanThread::CKeyMatch::CKeyMatch()
    // User and group are selected by name, as people write them in rules.
    : CHostMetaDataIntegrityScanThread::CKeyMatch(
          CSqlProcessEntitySet::EntityType(), wxFileName::IsCaseSensitive(wxPATH_NATIVE),
          {{wxT("user"), true}, {wxT("group"), true}, {wxT("path"), false}, {wxT("commandLine"), false}}, true) {}

CProcessIntegrityScanThread::CProcessIntegrityScanThread(KvoCore::CDom& dom, CSqlSubscan* subscan)
    : CHostMetaDataIntegrityScanThread(dom, subscan) {}

wxString CProcessIntegrityScanThread::GetThreadName() const { return wxT("CProcessIntegrityScanThread"); }

CSqlEntitySet* CProcessIntegrityScanThread::CreateEntitySetObject() const { return new CSqlProcessEntitySet(); }

KvoCore::XMLObjectList* CProcessIntegrityScanThread::CreateEntitySetCollection() const {
    return new CSqlProcessEntitySets();
}

const char* CProcessIntegrityScanThread::GetTraceMask() const { return Keys::kTraceScannerProcess; }

bool CProcessIntegrityScanThread::GetHmdResult(KvoCore::CHostMetaDataQueryResult& result) const {
    return KvoCore::GetHmdRunningProcesses(result, 1, wxT("integrityFormat"));
}

void CProcessIntegrityScanThread::PopulateAttributesOfInterest(const CSqlEntity& entity, const CSqlEntitySet* set,
                                                               KvoCore::MapStringToInt64Set& attributes) const {
    static const std::vector<MonitorFlag<CSqlProcessEntitySet>> flags = {
        &CSqlProcessEntitySet::m_monitorCommandLine, &CSqlProcessEntitySet::m_monitorGroup,
        &CSqlProcessEntitySet::m_monitorParent,      &CSqlProcessEntitySet::m_monitorPath,
        &CSqlProcessEntitySet::m_monitorProcess,     &CSqlProcessEntitySet::m_monitorThreads,
        &CSqlProcessEntitySet::m_monitorUser,
    };
    AddMonitored(entity, set, flags, attributes);
}

}  // namespace KvoPluginIm
