// CIdObject: an XMLObject with an integer "id" attribute.
#pragma once

#include "core/XMLObject.h"

namespace KvoCore {

class CIdObject : public XMLObject {
public:
    CIdObject();
    int GetId() const { return m_id; }
    void SetId(int id);

protected:
    int m_id = 0;
};

}  // namespace KvoCore
