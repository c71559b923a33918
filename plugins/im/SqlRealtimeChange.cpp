#include "plugins/im/SqlRealtimeChange.h"

namespace KvoPluginIm {

CSqlRealtimeChange::CSqlRealtimeChange() {
    UseNullDefaults();
    AddAttribute(wxT("realtimeChangeId"), &m_realtimeChangeId, 0, true);
    AddAttribute(wxT("entityType"), &m_entityType);
    AddAttribute(wxT("keyCanonical"), &m_keyCanonical);
    AddAttribute(wxT("entitySetIds"), &m_entitySetIds);
}

}  // namespace KvoPluginIm
