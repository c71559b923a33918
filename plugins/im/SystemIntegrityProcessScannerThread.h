// CProcessIntegrityScanThread: the scanner of "Process" entities: running processes, one entity per executable.
// The agent core's query supplies the objects; matching, recording and
// attribute writing are the host-metadata base's.
//
// Thread safety: as its base.
#pragma once

#include "plugins/im/SystemIntegrityHmdScannerThread.h"

namespace KvoPluginIm {

class CProcessIntegrityScanThread : public CHostMetaDataIntegrityScanThread {
public:
    class CKeyMatch : public CHostMetaDataIntegrityScanThread::CKeyMatch {
    public:
        CKeyMatch();
    };

    CProcessIntegrityScanThread(KvoCore::CDom& dom, CSqlSubscan* subscan);

    wxString GetThreadName() const override;
    CSqlEntitySet* CreateEntitySetObject() const override;
    KvoCore::XMLObjectList* CreateEntitySetCollection() const override;
    const CSystemIntegrityKeyMatch* GetKeyMatcher() const override { return &m_matcher; }
    const char* GetTraceMask() const override;
    bool GetHmdResult(KvoCore::CHostMetaDataQueryResult& result) const override;
    void PopulateAttributesOfInterest(const CSqlEntity& entity, const CSqlEntitySet* set,
                                      KvoCore::MapStringToInt64Set& attributes) const override;

private:
    CKeyMatch m_matcher;
};

}  // namespace KvoPluginIm
