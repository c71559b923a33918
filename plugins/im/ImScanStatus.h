// CImScanStatus: the integrity plug-in's scan status (<ImScanStatus>): the
// agent's common status fields plus the scan kind running (an ImScanType
// value), the pending scan requests as bits, the highest recorded entity id,
// the capability bits and the event mode.
#pragma once

#include "core/ScanStatus.h"

namespace KvoPluginIm {

class CImScanStatus : public KvoCore::CScanStatus {
public:
    CImScanStatus();
    wxString GetElementName() const override;

    int GetImScanType() const { return m_imScanType; }
    void SetImScanType(int type) { m_imScanType = type; }
    int GetPercentComplete() const { return m_percentComplete; }
    void SetPercentComplete(int percent) { m_percentComplete = percent; }
    int GetPendingScanBitmask() const { return m_pendingScanBitmask; }
    void SetPendingScanBitmask(int bits) { m_pendingScanBitmask = bits; }
    long long GetHighestEntityId() const { return m_highestEntityId; }
    void SetHighestEntityId(long long id) { m_highestEntityId = id; }
    int GetImCapabilityMask() const { return m_imCapabilityMask; }
    void SetImCapabilityMask(int bits) { m_imCapabilityMask = bits; }
    int GetEventMode() const { return m_eventMode; }
    void SetEventMode(int mode) { m_eventMode = mode; }

private:
    int m_imScanType = 0;
    int m_percentComplete = 0;
    int m_pendingScanBitmask = 0;
    long long m_highestEntityId = 0;
    int m_imCapabilityMask = 0;
    int m_eventMode = 0;
};

}  // namespace KvoPluginIm
