#include "plugins/im/SqlAttribute.h"

namespace KvoPluginIm {

CSqlAttribute::CSqlAttribute() {
    UseNullDefaults();
    ReserveAttributes(6);
    AddAttribute(wxT("attributeId"), &m_attributeId, 0, true);
    AddAttribute(wxT("entityId"), &m_entityId, 0, false);
    AddAttribute(wxT("name"), &m_name);
    AddAttribute(wxT("value"), &m_value);
    AddAttribute(wxT("friendlyValue"), &m_friendlyValue);
    AddAttribute(wxT("internalValue"), &m_internalValue);
}

}  // namespace KvoPluginIm
