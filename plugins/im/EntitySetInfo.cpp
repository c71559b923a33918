#include "plugins/im/EntitySetInfo.h"

#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SystemIntegrityKeyMatch.h"

namespace KvoPluginIm {

bool CEntitySetInfo::Init(wxSQLite3Database& db) {
    m_features.DeleteChildren();
    m_patterns.DeleteChildren();
    const wxString type = m_set->GetEntityType();
    const bool loaded = CSystemIntegrityKeyMatch::GetFeatures(db, type, m_set->m_entitySetId, m_features) &&
                        CSystemIntegrityKeyMatch::GetPatterns(db, type, m_set->m_entitySetId, m_patterns);
    CSystemIntegrityKeyMatch::GetUniqueIncludeExcludeIds(m_features, m_patterns, m_ids);
    return loaded;
}

}  // namespace KvoPluginIm
