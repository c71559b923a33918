// CHierarchicalEntitySet: a set whose keys are paths below a base (files,
// directories, registry keys and values). Its includes and excludes may ask
// for entities whose base lies in another set (whereBaseInOtherSet).
#pragma once

#include "plugins/im/EntitySet.h"

namespace KvoPluginIm {

class CHierarchicalEntitySet : public CEntitySet {
public:
    CHierarchicalEntitySet();
    wxString GetAllowedFeatures() const override;
    const wxString& GetBase() const { return m_base; }

protected:
    wxString m_base;
};

}  // namespace KvoPluginIm
