// CSqlEntityAttribute: one row of the relation "EntityAttributes" (an entity
// version joined with one of its attributes: the entity columns, then the
// attribute columns), and its list. Read-only: the relation is a view.
#pragma once

#include <wx/string.h>

#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlEntityAttribute : public CSqlEntity {
public:
    CSqlEntityAttribute();

    static wxString ElementName() { return wxT("EntityAttribute"); }
    wxString GetElementName() const override { return ElementName(); }

    long long m_attributeId = 0;
    wxString m_name;
    wxString m_value;
    wxString m_friendlyValue;
    wxString m_internalValue;
};

class CSqlEntityAttributes : public CSqlRecordList<CSqlEntityAttribute> {};

}  // namespace KvoPluginIm
