// CEntityState: a caller's position in the entity stream (<EntityState>): the
// last entity id it holds and how many entities it wants next.
#pragma once

#include "core/XMLObject.h"

namespace KvoPluginIm {

class CEntityState : public KvoCore::XMLObject {
public:
    CEntityState();
    wxString GetElementName() const override;

    long long GetLastEntityId() const { return m_lastEntityId; }
    void SetLastEntityId(long long id) { m_lastEntityId = id; }
    int GetLimit() const { return m_limit; }
    void SetLimit(int limit) { m_limit = limit; }

private:
    long long m_lastEntityId = 0;
    int m_limit = 0;
};

}  // namespace KvoPluginIm
