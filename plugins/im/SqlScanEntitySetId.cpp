#include "plugins/im/SqlScanEntitySetId.h"

namespace KvoPluginIm {

CSqlScanEntitySetId::CSqlScanEntitySetId() {
    UseNullDefaults();
    AddAttribute(wxT("scanId"), &m_scanId, 0, false);
    AddAttribute(wxT("entityType"), &m_entityType);
    AddAttribute(wxT("entitySetId"), &m_entitySetId, 0, false);
}

}  // namespace KvoPluginIm
