// CEntitySetOperation: an Operation element of an entity set; `types` names
// the operations (a comma list as written) the set reports.
#pragma once

#include "core/XMLObject.h"
#include "core/XMLObjectList.h"

namespace KvoPluginIm {

class CEntitySet;

class CEntitySetOperation : public KvoCore::XMLObject {
public:
    // owner outlives this object (the owner's list holds it).
    explicit CEntitySetOperation(const CEntitySet& owner);
    wxString GetElementName() const override;
    const wxString& GetTypes() const { return m_types; }
    const CEntitySet& GetOwner() const { return m_owner; }

private:
    const CEntitySet& m_owner;
    wxString m_types;
};

// The Operation elements of a set, unwrapped under it.
class CEntitySetOperations : public KvoCore::XMLObjectList {
public:
    explicit CEntitySetOperations(const CEntitySet& owner) : XMLObjectList(false, true), m_owner(owner) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;

private:
    const CEntitySet& m_owner;
};

}  // namespace KvoPluginIm
