// AttributeDummyObject: a monitored attribute name standing as an element of
// its own, so that generic walks over CAttributes (Lua tables, enumeration)
// see each name as a child. Short-lived; it holds a copy of the name.
#pragma once

#include "core/XMLObject.h"

namespace KvoPluginIm {

class AttributeDummyObject : public KvoCore::XMLObject {
public:
    explicit AttributeDummyObject(const wxString& name) : m_name(name) {}
    wxString GetElementName() const override { return m_name; }

private:
    wxString m_name;
};

}  // namespace KvoPluginIm
