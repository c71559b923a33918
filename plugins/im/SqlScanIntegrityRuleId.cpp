#include "plugins/im/SqlScanIntegrityRuleId.h"

namespace KvoPluginIm {

CSqlScanIntegrityRuleId::CSqlScanIntegrityRuleId() {
    UseNullDefaults();
    AddAttribute(wxT("scanId"), &m_scanId, 0, false);
    AddAttribute(wxT("integrityRuleId"), &m_integrityRuleId, 0, false);
}

}  // namespace KvoPluginIm
