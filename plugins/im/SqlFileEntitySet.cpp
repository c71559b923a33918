#include "plugins/im/SqlFileEntitySet.h"

namespace KvoPluginIm {

CSqlFileEntitySet::CSqlFileEntitySet() {
    AddAttribute(wxT("monitorSize"), &m_monitorSize, false);
    AddAttribute(wxT("monitorSha1"), &m_monitorSha1, false);
    AddAttribute(wxT("monitorSha256"), &m_monitorSha256, false);
    AddAttribute(wxT("monitorMd5"), &m_monitorMd5, false);
    AddAttribute(wxT("monitorBlocksAllocated"), &m_monitorBlocksAllocated, false);
    AddAttribute(wxT("monitorGrowing"), &m_monitorGrowing, false);
    AddAttribute(wxT("monitorShrinking"), &m_monitorShrinking, false);
    AddAttribute(wxT("operations"), &m_operations);
}

void CSqlFileEntitySet::EnumAttributes(const std::function<bool(const Attribute&)>& fn) const {
    CSqlDirectoryEntitySet::EnumAttributes([this, &fn](const Attribute& attribute) {
        // FindAttribute gives the first registration of a name.
        if (FindAttribute(attribute.name) != &attribute) return true;
        return fn(attribute);
    });
}

}  // namespace KvoPluginIm
