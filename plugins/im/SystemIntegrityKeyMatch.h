// CSystemIntegrityKeyMatch: decides whether an entity key belongs to an entity
// set (search base, include and exclude groups of patterns and features), and
// orders keys for scan checkpoints.
//
// One instance per entity type; subclasses supply the type's name, its case
// rule and its own features. Holds no data, so one instance may be shared by
// any number of threads.
#pragma once

#include <wx/arrstr.h>
#include <wx/string.h>

#include "core/Utilities.h"
#include "plugins/im/StateKeys.h"

class wxSQLite3Database;

namespace KvoCore {
class XMLObjectList;
}

namespace KvoPluginIm {

class CSqlEntitySet;
class CSqlIncludeExcludeFeature;
class CSqlIncludeExcludeFeatures;
class CSqlIncludeExcludePattern;
class CSqlIncludeExcludePatterns;

class CSystemIntegrityKeyMatch {
public:
    CSystemIntegrityKeyMatch() = default;
    CSystemIntegrityKeyMatch(const CSystemIntegrityKeyMatch&) = delete;
    CSystemIntegrityKeyMatch& operator=(const CSystemIntegrityKeyMatch&) = delete;
    virtual ~CSystemIntegrityKeyMatch();

    virtual bool EntityKeysAreCaseSensitive() const { return false; }
    virtual bool EntityMatchesFeature(const wxString& fullKey, const wxString& relativeKey, unsigned long depth,
                                      const KvoCore::XMLObjectList* sets, const CSqlEntitySet& set,
                                      const CSqlIncludeExcludeFeature& feature,
                                      const CSqlIncludeExcludeFeatures& features,
                                      const CSqlIncludeExcludePatterns& patterns, const KvoCore::Int64Set& ids) const;
    // The type of the entities found below a key, or null when keys have no leaves of another type.
    virtual const wxChar* GetEntityLeafType() const { return nullptr; }
    virtual wxString GetEntityKeySeparator() const { return wxT("/"); }
    virtual wxString GetEntityType() const = 0;
    virtual bool KeyPathMatchesSearchBase(const wxString& key, const CSqlEntitySet* set) const;

    // Keeps the largest reason seen since the last reset to -1.
    static void SetUnmatchedReason(int reason, int& out);

    // Each returns false (and logs) when the database cannot be read.
    static bool GetFeatures(wxSQLite3Database& db, const wxString& entityType, long long entitySetId,
                            CSqlIncludeExcludeFeatures& features);
    static bool GetPatterns(wxSQLite3Database& db, const wxString& entityType, long long entitySetId,
                            CSqlIncludeExcludePatterns& patterns);
    static void GetUniqueIncludeExcludeIds(const CSqlIncludeExcludeFeatures& features,
                                           const CSqlIncludeExcludePatterns& patterns, KvoCore::Int64Set& out);

    // depth carries the caller's datum for feature tests: a file's open
    // descriptor (-1 for none), a host-metadata object, or 0.
    bool EntityMatches(const wxString& searchBase, const wxString& fullKey, unsigned long depth,
                       const KvoCore::XMLObjectList* sets, const CSqlEntitySet& set,
                       const CSqlIncludeExcludeFeatures& features, const CSqlIncludeExcludePatterns& patterns,
                       const KvoCore::Int64Set& ids, int& reason) const;
    // At least one include group matches in full and no exclude group does.
    bool EntityMatchesIncludeExcludes(const wxString& fullKey, const wxString& relativeKey, unsigned long depth,
                                      const KvoCore::XMLObjectList* sets, const CSqlEntitySet& set,
                                      const CSqlIncludeExcludeFeatures& features,
                                      const CSqlIncludeExcludePatterns& patterns, const KvoCore::Int64Set& ids,
                                      int& reason) const;
    // Group id (its include or its exclude side) matches when it has at least
    // one pattern or feature and all of them match.
    bool EntityMatchesAll(long long id, bool exclude, const wxString& fullKey, const wxString& relativeKey,
                          unsigned long depth, const KvoCore::XMLObjectList* sets, const CSqlEntitySet& set,
                          const CSqlIncludeExcludeFeatures& features, const CSqlIncludeExcludePatterns& patterns,
                          const KvoCore::Int64Set& ids, int& reason) const;
    bool EntityIsExcluded(const wxString& searchBase, const wxString& fullKey, unsigned long depth,
                          const KvoCore::XMLObjectList* sets, const CSqlEntitySet& set,
                          const CSqlIncludeExcludeFeatures& features, const CSqlIncludeExcludePatterns& patterns,
                          const KvoCore::Int64Set& ids, int& reason) const;

    // Descent pruning: false only when nothing below key can match an include group.
    bool ShouldDescend(const CSqlIncludeExcludeFeatures& features, const CSqlIncludeExcludePatterns& patterns,
                       const KvoCore::Int64Set& ids, const wxString& searchBase, const wxString& key) const;
    bool EntityPotentiallyMatchesAll(long long id, const wxString& key, const wxString& relativeKey,
                                     const CSqlIncludeExcludeFeatures& features,
                                     const CSqlIncludeExcludePatterns& patterns) const;
    bool PatternWillNeverMatchDescendents(const CSqlIncludeExcludePattern& pattern,
                                          const wxString& relativeKey) const;
    // How many directory levels a walk needs to reach every key the patterns can match.
    static int MaxKeyPathDepth(const CSqlIncludeExcludePatterns& patterns);

    bool IsBaseInOtherSet(const wxString& key, const KvoCore::XMLObjectList* sets, const CSqlEntitySet& set) const;
    wxString GetRelativeName(const wxString& base, const wxString& key) const;
    // Sorts a key directly before its descendants, and those before its next sibling.
    int CompareKeys(const wxString& a, const wxString& b) const;
    int CompareStrings(const wxString& a, const wxString& b) const;
    static int CompareStringsCaseSensitive(const wxString& a, const wxString& b);
    static int CompareStringsCaseInsensitive(const wxString& a, const wxString& b);

    static const char* const s_Trace;  // Keys::kTraceKeyMatch

private:
    // Wildcard match ("*", "?") under the pattern's case rule.
    bool WildcardMatches(const wxString& text, const wxString& wildcard, int caseSensitive) const;
    bool PatternMatches(const CSqlIncludeExcludePattern& pattern, const wxString& relativeKey,
                        const CSqlEntitySet& set, int& reason) const;
    void NoteMissedInclude(const CSqlIncludeExcludePattern& pattern, const wxString& relativeKey, int& reason) const;
    void NoteExcludeHit(const CSqlIncludeExcludePattern& pattern, const wxString& relativeKey, int& reason) const;
    wxArrayString SplitKey(const wxString& key) const;
    // Keys use the host's separator, patterns always "/".
    wxString WithPatternSeparators(const wxString& key) const;
};

}  // namespace KvoPluginIm
