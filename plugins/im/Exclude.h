// CExclude: an Exclude element of an entity set (see CIncludeOrExclude).
#pragma once

#include "core/XMLObjectList.h"
#include "plugins/im/IncludeOrExclude.h"

namespace KvoPluginIm {

class CExclude : public CIncludeOrExclude {
public:
    explicit CExclude(const CEntitySet& owner) : CIncludeOrExclude(owner) {}
    wxString GetElementName() const override;
};

// The Exclude elements of a set, unwrapped under it; each member is built for
// the owning set.
class CExcludes : public KvoCore::XMLObjectList {
public:
    explicit CExcludes(const CEntitySet& owner) : XMLObjectList(false, true), m_owner(owner) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;

private:
    const CEntitySet& m_owner;
};

}  // namespace KvoPluginIm
