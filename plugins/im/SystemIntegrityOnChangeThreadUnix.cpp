#include "plugins/im/SystemIntegrityOnChangeThreadUnix.h"

namespace KvoPluginIm {

void CSystemIntegrityOnChangeThreadUnix::OnMainLoopSleep(unsigned int ms) { TestDestroy(ms, nullptr); }

void CSystemIntegrityOnChangeThreadUnix::StartMonitoring(const CEntitySetInfoPtrList&) {}

}  // namespace KvoPluginIm
