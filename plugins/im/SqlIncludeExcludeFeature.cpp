#include "plugins/im/SqlIncludeExcludeFeature.h"

namespace KvoPluginIm {

CSqlIncludeExcludeFeature::CSqlIncludeExcludeFeature() {
    UseNullDefaults();
    AddAttribute(wxT("includeExcludeId"), &m_includeExcludeId, 0, false);
    AddAttribute(wxT("entityType"), &m_entityType);
    AddAttribute(wxT("entitySetId"), &m_entitySetId, 0, false);
    AddAttribute(wxT("exclude"), &m_exclude, false);
    AddAttribute(wxT("name"), &m_name);
    AddAttribute(wxT("value"), &m_value);
    AddAttribute(wxT("caseSensitive"), &m_caseSensitive);
}

}  // namespace KvoPluginIm
