#include "plugins/im/SqlWqlEntitySet.h"

namespace KvoPluginIm {

CSqlWqlEntitySet::CSqlWqlEntitySet() {
    AddAttribute(wxT("namespace"), &m_namespace);
    AddAttribute(wxT("wql"), &m_wql);
    AddAttribute(wxT("provider"), &m_provider);
    AddAttribute(wxT("timeout"), &m_timeout, 5000);
}

}  // namespace KvoPluginIm
