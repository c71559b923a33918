#include "plugins/im/SqlGroupEntitySet.h"

namespace KvoPluginIm {

CSqlGroupEntitySet::CSqlGroupEntitySet() {
    AddAttribute(wxT("monitorDescription"), &m_monitorDescription, false);
    AddAttribute(wxT("monitorGroup"), &m_monitorGroup, false);
    AddAttribute(wxT("monitorMembers"), &m_monitorMembers, false);
    AddAttribute(wxT("monitorSubGroups"), &m_monitorSubGroups, false);
}

}  // namespace KvoPluginIm
