#include "core/hmd/HostMetaDataQueryResult.h"

#include <algorithm>

namespace KvoCore {

void CHostMetaDataQueryResult::Add(std::unique_ptr<CHostMetaData> object) {
    if (object) m_objects.push_back(std::move(object));
}

void CHostMetaDataQueryResult::SortByKey() {
    std::stable_sort(m_objects.begin(), m_objects.end(),
                     [](const std::unique_ptr<CHostMetaData>& a, const std::unique_ptr<CHostMetaData>& b) {
                         return a->GetKey().compare(b->GetKey()) < 0;
                     });
}

}  // namespace KvoCore
