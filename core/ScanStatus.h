// CScanStatus: the agent's common report of a scanning plug-in's state; a
// plug-in derives its own status element from it and adds its own fields.
//
// Attributes, in registration order:
//   scanError   (bool, default false) the last scan ended in error.
//   status      (int, default Idle)   a ScanStatus value.
//   interactive (int, default 1)      1 when the state is one the user drives
//                                     (idle, or a scan the user or a schedule
//                                     asked for); 0 while the agent runs a scan
//                                     of its own accord in reaction to changes,
//                                     which the user neither waits for nor cancels.
// Not thread-safe; one object per request.
#pragma once

#include "core/XMLObject.h"

namespace KvoCore {

class CScanStatus : public XMLObject {
public:
    // Values of the status attribute (the Lua enumeration ScanStatus).
    enum _ScanStatus {
        Queued = 0,
        InProgress = 1,
        Paused = 2,
        Cancelling = 3,
        Idle = 4,
        NotSupported = 5,
    };

    CScanStatus();

    wxString GetElementName() const override;

    bool GetScanError() const { return m_scanError; }
    void SetScanError(bool scanError) { m_scanError = scanError; }
    int GetStatus() const { return m_status; }
    void SetStatus(int status) { m_status = status; }
    int GetInteractive() const { return m_interactive; }
    void SetInteractive(int interactive) { m_interactive = interactive; }

protected:
    bool m_scanError = false;
    int m_status = Idle;
    int m_interactive = 1;
};

}  // namespace KvoCore
