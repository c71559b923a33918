#include "plugins/im/HierarchicalEntitySet.h"

namespace KvoPluginIm {

CHierarchicalEntitySet::CHierarchicalEntitySet() { AddAttribute(wxT("base"), &m_base); }

wxString CHierarchicalEntitySet::GetAllowedFeatures() const { return wxT("whereBaseInOtherSet,"); }

}  // namespace KvoPluginIm
