#include "plugins/im/SqlScan.h"

namespace KvoPluginIm {

CSqlScan::CSqlScan() {
    UseNullDefaults();
    AddAttribute(wxT("scanId"), &m_scanId, 0, true);
    AddAttribute(wxT("startTime"), &m_startTime, 0, false);
    AddAttribute(wxT("endTime"), &m_endTime, 0, false);
    AddAttribute(wxT("startingHighestExistingEntityId"), &m_startingHighestExistingEntityId, 0, false);
    AddAttribute(wxT("endingHighestExistingEntityId"), &m_endingHighestExistingEntityId, 0, false);
    AddAttribute(wxT("incrementalScan"), &m_incrementalScan);
}

}  // namespace KvoPluginIm
