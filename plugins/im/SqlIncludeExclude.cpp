#include "plugins/im/SqlIncludeExclude.h"

namespace KvoPluginIm {

CSqlIncludeExclude::CSqlIncludeExclude() {
    UseNullDefaults();
    AddAttribute(wxT("includeExcludeId"), &m_includeExcludeId, 0, true);
    AddAttribute(wxT("entityType"), &m_entityType);
    AddAttribute(wxT("entitySetId"), &m_entitySetId, 0, false);
    AddAttribute(wxT("exclude"), &m_exclude, false);
}

}  // namespace KvoPluginIm
