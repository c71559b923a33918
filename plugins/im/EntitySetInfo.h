// CEntitySetInfo: one entity set with its includes and excludes loaded, for
// testing many single keys (real-time changes) without reading them again.
//
// Does not own the set record, which must outlive it. Not thread-safe; its
// owner serialises use.
#pragma once

#include "core/Utilities.h"
#include "plugins/im/SqlIncludeExcludeFeature.h"
#include "plugins/im/SqlIncludeExcludePattern.h"

class wxSQLite3Database;

namespace KvoPluginIm {

class CSqlEntitySet;

class CEntitySetInfo {
public:
    explicit CEntitySetInfo(const CSqlEntitySet* set) : m_set(set) {}
    CEntitySetInfo(const CEntitySetInfo&) = delete;
    CEntitySetInfo& operator=(const CEntitySetInfo&) = delete;

    // Loads the set's features, patterns and include/exclude ids; false when
    // the database could not be read.
    bool Init(wxSQLite3Database& db);

    const CSqlEntitySet* GetSet() const { return m_set; }
    const CSqlIncludeExcludeFeatures& GetFeatures() const { return m_features; }
    const CSqlIncludeExcludePatterns& GetPatterns() const { return m_patterns; }
    const KvoCore::Int64Set& GetIncludeExcludeIds() const { return m_ids; }

private:
    const CSqlEntitySet* m_set;
    CSqlIncludeExcludeFeatures m_features;
    CSqlIncludeExcludePatterns m_patterns;
    KvoCore::Int64Set m_ids;
};

}  // namespace KvoPluginIm
