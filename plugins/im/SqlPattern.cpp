#include "plugins/im/SqlPattern.h"

namespace KvoPluginIm {

CSqlPattern::CSqlPattern() {
    UseNullDefaults();
    AddAttribute(wxT("includeExcludeId"), &m_includeExcludeId, 0, false);
    AddAttribute(wxT("pattern"), &m_pattern);
    AddAttribute(wxT("regExPattern"), &m_regExPattern);
    AddAttribute(wxT("caseSensitive"), &m_caseSensitive);
}

}  // namespace KvoPluginIm
