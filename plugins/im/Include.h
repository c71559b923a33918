// CInclude: an Include element of an entity set (see CIncludeOrExclude).
#pragma once

#include "core/XMLObjectList.h"
#include "plugins/im/IncludeOrExclude.h"

namespace KvoPluginIm {

class CInclude : public CIncludeOrExclude {
public:
    explicit CInclude(const CEntitySet& owner) : CIncludeOrExclude(owner) {}
    wxString GetElementName() const override;
};

// The Include elements of a set, unwrapped under it; each member is built for
// the owning set.
class CIncludes : public KvoCore::XMLObjectList {
public:
    explicit CIncludes(const CEntitySet& owner) : XMLObjectList(false, true), m_owner(owner) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;

private:
    const CEntitySet& m_owner;
};

}  // namespace KvoPluginIm
