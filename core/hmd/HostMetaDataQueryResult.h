// CHostMetaDataQueryResult: the objects one host query returned, in the
// query's order. Owns them; pointers into it stay valid until Clear or
// destruction. Not synchronised: one thread at a time.
#pragma once

#include <memory>
#include <vector>

#include "core/hmd/HostMetaData.h"

namespace KvoCore {

class CHostMetaDataQueryResult {
public:
    using List = std::vector<std::unique_ptr<CHostMetaData>>;

    void Add(std::unique_ptr<CHostMetaData> object);
    void Clear() { m_objects.clear(); }
    size_t size() const { return m_objects.size(); }
    bool empty() const { return m_objects.empty(); }

    CHostMetaData& operator[](size_t index) { return *m_objects[index]; }
    const CHostMetaData& operator[](size_t index) const { return *m_objects[index]; }
    List::const_iterator begin() const { return m_objects.begin(); }
    List::const_iterator end() const { return m_objects.end(); }

    // Orders the objects by key (code-point order), the order every query returns.
    void SortByKey();

private:
    List m_objects;
};

}  // namespace KvoCore
