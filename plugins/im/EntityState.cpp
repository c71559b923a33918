#include "plugins/im/EntityState.h"

namespace KvoPluginIm {

CEntityState::CEntityState() {
    AddAttribute(wxT("lastEntityID"), &m_lastEntityId, 0, false);
    AddAttribute(wxT("limit"), &m_limit, 0);
}

wxString CEntityState::GetElementName() const { return wxT("EntityState"); }

}  // namespace KvoPluginIm
