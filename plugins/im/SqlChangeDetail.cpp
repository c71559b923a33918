#include "plugins/im/SqlChangeDetail.h"

namespace KvoPluginIm {

CSqlChangeDetail::CSqlChangeDetail() {
    UseNullDefaults();
    AddAttribute(wxT("realtimeChangeId"), &m_realtimeChangeId, 0, false);
    AddAttribute(wxT("change"), &m_change);
    AddAttribute(wxT("whenChangedFirst"), &m_whenChangedFirst, 0, false);
    AddAttribute(wxT("whenChangedLast"), &m_whenChangedLast, 0, false);
    AddAttribute(wxT("keyCanonicalOld"), &m_keyCanonicalOld);
    AddAttribute(wxT("user"), &m_user);
    AddAttribute(wxT("process"), &m_process);
}

}  // namespace KvoPluginIm
