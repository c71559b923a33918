// CKey: one further glob of an Include or Exclude (<Key pattern="..."/>).
#pragma once

#include "core/XMLObject.h"
#include "core/XMLObjectList.h"

namespace KvoPluginIm {

class CKey : public KvoCore::XMLObject {
public:
    CKey();
    wxString GetElementName() const override;
    const wxString& GetPattern() const { return m_pattern; }

private:
    wxString m_pattern;
};

// The Key elements of an Include or Exclude, unwrapped under it.
class CKeys : public KvoCore::XMLObjectList {
public:
    CKeys() : XMLObjectList(false, true) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
