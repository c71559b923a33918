// CEntityAttribute: one recorded attribute of an entity in a query result
// (<Attribute name="..." value="..." friendlyValue="..."/>). The value is
// printed even when empty: an empty value is a recorded fact.
#pragma once

#include "core/XMLObject.h"
#include "core/XMLObjectList.h"

namespace KvoPluginIm {

class CEntityAttribute : public KvoCore::XMLObject {
public:
    CEntityAttribute();
    wxString GetElementName() const override;

    const wxString& GetName() const { return m_name; }
    void SetName(const wxString& name) { m_name = name; }
    const wxString& GetValue() const { return m_value; }
    void SetValue(const wxString& value) { m_value = value; }
    const wxString& GetFriendlyValue() const { return m_friendlyValue; }
    void SetFriendlyValue(const wxString& friendlyValue) { m_friendlyValue = friendlyValue; }

private:
    wxString m_name;
    wxString m_value;
    wxString m_friendlyValue;
};

// The <Attributes> of an entity, wrapped.
class CEntityAttributes : public KvoCore::XMLObjectList {
public:
    CEntityAttributes() : XMLObjectList(false, false) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
