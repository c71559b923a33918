// CIdNameObject: a CIdObject with a "name" attribute.
#pragma once

#include "core/IdObject.h"

namespace KvoCore {

class CIdNameObject : public CIdObject {
public:
    CIdNameObject();
    const wxString& GetName() const { return m_name; }
    void SetName(const wxString& name);

protected:
    wxString m_name;
};

}  // namespace KvoCore
