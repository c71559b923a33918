// CSqlAttribute: one row of "Attributes" (one gathered attribute value of an
// entity version), and its list CSqlAttributes.
#pragma once

#include <wx/string.h>

#include "core/XMLObject.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlAttribute : public KvoCore::XMLObject {
public:
    CSqlAttribute();

    static wxString ElementName() { return wxT("Attribute"); }
    wxString GetElementName() const override { return ElementName(); }

    long long m_attributeId = 0;  // key
    long long m_entityId = 0;
    wxString m_name;
    wxString m_value;          // the value that is hashed and compared
    wxString m_friendlyValue;  // the value as shown to people
    wxString m_internalValue;  // what the scanner needs to compare later versions
};

class CSqlAttributes : public CSqlRecordList<CSqlAttribute> {};

}  // namespace KvoPluginIm
