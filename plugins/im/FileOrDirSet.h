// CFileOrDirSet: what file sets and directory sets share: following links,
// removable media, and the file-system attributes common to both.
#pragma once

#include "plugins/im/HierarchicalEntitySet.h"

namespace KvoPluginIm {

class CFileOrDirSet : public CHierarchicalEntitySet {
public:
    CFileOrDirSet();
    bool GetFollowLinks() const { return m_followLinks; }
    bool GetIncludeRemovable() const { return m_includeRemovable; }

protected:
    // Monitored by default by both kinds (comma lists, for this host).
    static wxString CommonStandardAttributes();
    // Offered by both kinds but not monitored by default.
    static wxString CommonOtherAttributes();

    bool m_followLinks = false;
    bool m_includeRemovable = false;
};

}  // namespace KvoPluginIm
