#include "plugins/im/SqlFeature.h"

namespace KvoPluginIm {

CSqlFeature::CSqlFeature() {
    UseNullDefaults();
    AddAttribute(wxT("includeExcludeId"), &m_includeExcludeId, 0, false);
    AddAttribute(wxT("name"), &m_name);
    AddAttribute(wxT("value"), &m_value);
    AddAttribute(wxT("caseSensitive"), &m_caseSensitive);
}

}  // namespace KvoPluginIm
