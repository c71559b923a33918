#include "plugins/im/SqlEntityAttribute.h"

namespace KvoPluginIm {

CSqlEntityAttribute::CSqlEntityAttribute() {
    AddAttribute(wxT("attributeId"), &m_attributeId, 0, false);
    AddAttribute(wxT("name"), &m_name);
    AddAttribute(wxT("value"), &m_value);
    AddAttribute(wxT("friendlyValue"), &m_friendlyValue);
    AddAttribute(wxT("internalValue"), &m_internalValue);
}

}  // namespace KvoPluginIm
