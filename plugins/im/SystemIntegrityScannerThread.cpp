#include "plugins/im/SystemIntegrityScannerThread.h"

namespace KvoPluginIm {

wxPathFormat CIntegrityScanThread::GetPathFormat(KvoCore::CDom& agent) {
    return agent.IsProtectingWindows() ? wxPATH_DOS : wxPATH_NATIVE;
}

}  // namespace KvoPluginIm
