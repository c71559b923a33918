#include "plugins/im/SqlSubscan.h"

namespace KvoPluginIm {

CSqlSubscan::CSqlSubscan() {
    UseNullDefaults();
    AddAttribute(wxT("subscanId"), &m_subscanId, 0, true);
    AddAttribute(wxT("scanId"), &m_scanId, 0, false);
    AddAttribute(wxT("startTime"), &m_startTime, 0, false);
    AddAttribute(wxT("endTime"), &m_endTime, 0, false);
    AddAttribute(wxT("entityType"), &m_entityType);
    AddAttribute(wxT("numEntitiesDeleted"), &m_numEntitiesDeleted, 0, false);
    AddAttribute(wxT("scanStep"), &m_scanStep);
    AddAttribute(wxT("checkpointInfo"), &m_checkpointInfo);
}

}  // namespace KvoPluginIm
