#include "plugins/im/SystemIntegrityKeyMatch.h"

#include <climits>

#include <wx/filename.h>
#include "plugins/im/RecordRegEx.h"
#include <wx/tokenzr.h>
#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/XMLObjectList.h"
#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlIncludeExcludeFeature.h"
#include "plugins/im/SqlIncludeExcludePattern.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

const char* const CSystemIntegrityKeyMatch::s_Trace = Keys::kTraceKeyMatch;

namespace {

// Patterns are written with "/" whatever the host (the glob translation splits them so).
wxFileName SplitPath(const wxString& path) {
    wxFileName name;
    name.Assign(path, wxPATH_UNIX);
    return name;
}

template <typename TList>
bool LoadRows(wxSQLite3Database& db, const wxString& sql, long long entitySetId, const wxString& entityType,
              TList& rows) {
    try {
        wxSQLite3Statement statement = db.PrepareStatement(sql);
        statement.Bind(1, wxLongLong(entitySetId));
        statement.Bind(2, entityType);
        wxSQLite3ResultSet result = statement.ExecuteQuery();
        rows.SQLLoad(result);
        return true;
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("Integrity monitoring cannot read the includes and excludes of %s set %lld: %s",
                                           entityType, entitySetId, e.GetMessage()));
        return false;
    }
}

}  // namespace

CSystemIntegrityKeyMatch::~CSystemIntegrityKeyMatch() = default;

bool CSystemIntegrityKeyMatch::KeyPathMatchesSearchBase(const wxString&, const CSqlEntitySet*) const { return false; }

void CSystemIntegrityKeyMatch::SetUnmatchedReason(int reason, int& out) {
    if (reason == -1 || reason > out) out = reason;
}

bool CSystemIntegrityKeyMatch::GetFeatures(wxSQLite3Database& db, const wxString& entityType, long long entitySetId,
                                           CSqlIncludeExcludeFeatures& features) {
    const CSqlIncludeExcludeFeature row;
    const wxString sql = wxString::Format(
        "SELECT * FROM [%s] WHERE [%s]=?1 AND [%s]=?2 ORDER BY [%s];", CSqlIncludeExcludeFeatures::ElementName(),
        row.GetAttributeName(&row.m_entitySetId), row.GetAttributeName(&row.m_entityType),
        row.GetAttributeName(&row.m_exclude));
    return LoadRows(db, sql, entitySetId, entityType, features);
}

bool CSystemIntegrityKeyMatch::GetPatterns(wxSQLite3Database& db, const wxString& entityType, long long entitySetId,
                                           CSqlIncludeExcludePatterns& patterns) {
    const CSqlIncludeExcludePattern row;
    const wxString sql = wxString::Format(
        "SELECT * FROM [%s] WHERE [%s]=?1 AND [%s]=?2 ORDER BY [%s],[%s];", CSqlIncludeExcludePatterns::ElementName(),
        row.GetAttributeName(&row.m_entitySetId), row.GetAttributeName(&row.m_entityType),
        row.GetAttributeName(&row.m_includeExcludeId), row.GetAttributeName(&row.m_exclude));
    return LoadRows(db, sql, entitySetId, entityType, patterns);
}

void CSystemIntegrityKeyMatch::GetUniqueIncludeExcludeIds(const CSqlIncludeExcludeFeatures& features,
                                                          const CSqlIncludeExcludePatterns& patterns,
                                                          KvoCore::Int64Set& out) {
    out.clear();
    for (size_t i = 0; i < patterns.size(); ++i) out.insert(patterns.at(i).m_includeExcludeId);
    for (size_t i = 0; i < features.size(); ++i) out.insert(features.at(i).m_includeExcludeId);
}

bool CSystemIntegrityKeyMatch::EntityMatches(const wxString& searchBase, const wxString& fullKey,
                                             unsigned long depth, const KvoCore::XMLObjectList* sets,
                                             const CSqlEntitySet& set, const CSqlIncludeExcludeFeatures& features,
                                             const CSqlIncludeExcludePatterns& patterns,
                                             const KvoCore::Int64Set& ids, int& reason) const {
    if (features.empty() && patterns.empty()) return true;
    return EntityMatchesIncludeExcludes(fullKey, GetRelativeName(searchBase, fullKey), depth, sets, set, features,
                                        patterns, ids, reason);
}

bool CSystemIntegrityKeyMatch::EntityMatchesIncludeExcludes(
    const wxString& fullKey, const wxString& relativeKey, unsigned long depth, const KvoCore::XMLObjectList* sets,
    const CSqlEntitySet& set, const CSqlIncludeExcludeFeatures& features, const CSqlIncludeExcludePatterns& patterns,
    const KvoCore::Int64Set& ids, int& reason) const {
    KVO_TRACE(s_Trace, "EnityMatchesIncludesExcludes fullEntityKey '%s' relativeEntityKey '%s'", fullKey,
              relativeKey);
    if (features.empty() && patterns.empty()) return true;
    KVO_TRACE(s_Trace, "Checking Includes");
    bool included = false;
    for (const long long id : ids) {
        if (EntityMatchesAll(id, false, fullKey, relativeKey, depth, sets, set, features, patterns, ids, reason)) {
            included = true;
            break;
        }
    }
    if (!included) {
        KVO_TRACE(s_Trace, "Includes do not match");
        return false;
    }
    KVO_TRACE(s_Trace, "Checking Excludes");
    bool result = true;
    for (const long long id : ids) {
        if (EntityMatchesAll(id, true, fullKey, relativeKey, depth, sets, set, features, patterns, ids, reason)) {
            result = false;
            break;
        }
    }
    KVO_TRACE(s_Trace, "Excludes match %d", result ? 1 : 0);
    return result;
}

bool CSystemIntegrityKeyMatch::EntityMatchesAll(long long id, bool exclude, const wxString& fullKey,
                                                const wxString& relativeKey, unsigned long depth,
                                                const KvoCore::XMLObjectList* sets, const CSqlEntitySet& set,
                                                const CSqlIncludeExcludeFeatures& features,
                                                const CSqlIncludeExcludePatterns& patterns,
                                                const KvoCore::Int64Set& ids, int& reason) const {
    int count = 0;
    for (size_t i = 0; i < patterns.size(); ++i) {
        const CSqlIncludeExcludePattern& pattern = patterns.at(i);
        if (pattern.m_includeExcludeId != id || pattern.m_exclude != exclude) continue;
        ++count;
        if (!PatternMatches(pattern, relativeKey, set, reason)) return false;
    }
    for (size_t i = 0; i < features.size(); ++i) {
        const CSqlIncludeExcludeFeature& feature = features.at(i);
        if (feature.m_includeExcludeId != id || feature.m_exclude != exclude) continue;
        ++count;
        if (!EntityMatchesFeature(fullKey, relativeKey, depth, sets, set, feature, features, patterns, ids))
            return false;
    }
    return count > 0;
}

bool CSystemIntegrityKeyMatch::PatternMatches(const CSqlIncludeExcludePattern& pattern, const wxString& relativeKey,
                                              const CSqlEntitySet& set, int& reason) const {
    if (!set.HasHierarchicalNames()) return WildcardMatches(relativeKey, pattern.m_pattern, pattern.m_caseSensitive);
    const CRecordRegEx* regEx = pattern.GetRegEx();
    // A pattern whose expression did not compile cannot reject a key.
    if (!regEx) return true;
    // Undecided, an include counts as matching and an exclude as not: the key stays monitored.
    if (!regEx->Matches(relativeKey, !pattern.m_exclude)) {
        if (!pattern.m_exclude) NoteMissedInclude(pattern, relativeKey, reason);
        return false;
    }
    if (pattern.m_exclude) NoteExcludeHit(pattern, relativeKey, reason);
    return true;
}

void CSystemIntegrityKeyMatch::NoteMissedInclude(const CSqlIncludeExcludePattern& pattern,
                                                 const wxString& relativeKey, int& reason) const {
    const wxFileName glob = SplitPath(pattern.m_pattern);
    const wxFileName key = SplitPath(WithPatternSeparators(relativeKey));
    const wxString globDir = glob.GetPath(wxPATH_GET_VOLUME, wxPATH_UNIX);
    if (globDir != wxT("**") && CompareStrings(globDir, key.GetPath(wxPATH_GET_VOLUME, wxPATH_UNIX)) != 0)
        SetUnmatchedReason(1, reason);
    else if (CompareStrings(glob.GetExt(), key.GetExt()) != 0)
        SetUnmatchedReason(2, reason);
    else
        SetUnmatchedReason(3, reason);
}

void CSystemIntegrityKeyMatch::NoteExcludeHit(const CSqlIncludeExcludePattern& pattern, const wxString& relativeKey,
                                              int& reason) const {
    const wxFileName glob = SplitPath(pattern.m_pattern);
    const wxFileName key = SplitPath(WithPatternSeparators(relativeKey));
    const bool anyName = glob.GetName() == wxT("*");
    const bool sameExt = CompareStrings(glob.GetExt(), key.GetExt()) == 0;
    int hit = key.GetPath(wxPATH_GET_VOLUME, wxPATH_UNIX).empty() ? 6 : (anyName ? 4 : 6);
    if (anyName && sameExt) hit = 5;
    if (sameExt && CompareStrings(glob.GetName(), key.GetName()) == 0) hit = 6;
    SetUnmatchedReason(hit, reason);
}

bool CSystemIntegrityKeyMatch::EntityIsExcluded(const wxString& searchBase, const wxString& fullKey,
                                                unsigned long depth, const KvoCore::XMLObjectList* sets,
                                                const CSqlEntitySet& set, const CSqlIncludeExcludeFeatures& features,
                                                const CSqlIncludeExcludePatterns& patterns,
                                                const KvoCore::Int64Set& ids, int& reason) const {
    if (features.empty() && patterns.empty()) return false;
    const wxString relativeKey = GetRelativeName(searchBase, fullKey);
    for (const long long id : ids)
        if (EntityMatchesAll(id, true, fullKey, relativeKey, depth, sets, set, features, patterns, ids, reason))
            return true;
    return false;
}

bool CSystemIntegrityKeyMatch::EntityMatchesFeature(const wxString& fullKey, const wxString&, unsigned long,
                                                    const KvoCore::XMLObjectList* sets, const CSqlEntitySet& set,
                                                    const CSqlIncludeExcludeFeature& feature,
                                                    const CSqlIncludeExcludeFeatures&,
                                                    const CSqlIncludeExcludePatterns&,
                                                    const KvoCore::Int64Set&) const {
    if (set.HasHierarchicalNames() && feature.m_name.CmpNoCase(wxT("whereBaseInOtherSet")) == 0)
        return (feature.m_value.CmpNoCase(wxT("true")) == 0) == IsBaseInOtherSet(fullKey, sets, set);
    KvoCore::LogError(wxString::Format("Integrity monitoring '%s' feature not supported for entities of type %s",
                                       feature.m_name, GetEntityType()));
    return false;
}

bool CSystemIntegrityKeyMatch::IsBaseInOtherSet(const wxString& key, const KvoCore::XMLObjectList* sets,
                                                const CSqlEntitySet& set) const {
    if (!sets) return false;
    for (const KvoCore::XMLObject* member : sets->Children()) {
        const auto* other = dynamic_cast<const CSqlEntitySet*>(member);
        if (other && other->m_entitySetId != set.m_entitySetId && KeyPathMatchesSearchBase(key, other)) return true;
    }
    return false;
}

bool CSystemIntegrityKeyMatch::ShouldDescend(const CSqlIncludeExcludeFeatures& features,
                                             const CSqlIncludeExcludePatterns& patterns,
                                             const KvoCore::Int64Set& ids, const wxString& searchBase,
                                             const wxString& key) const {
    if (features.empty() && patterns.empty()) return true;
    const wxString relativeKey = GetRelativeName(searchBase, key);
    for (const long long id : ids)
        if (EntityPotentiallyMatchesAll(id, key, relativeKey, features, patterns)) return true;
    return false;
}

bool CSystemIntegrityKeyMatch::EntityPotentiallyMatchesAll(long long id, const wxString&,
                                                           const wxString& relativeKey,
                                                           const CSqlIncludeExcludeFeatures& features,
                                                           const CSqlIncludeExcludePatterns& patterns) const {
    int count = 0;
    for (size_t i = 0; i < patterns.size(); ++i) {
        const CSqlIncludeExcludePattern& pattern = patterns.at(i);
        if (pattern.m_includeExcludeId != id || pattern.m_exclude) continue;
        ++count;
        if (PatternWillNeverMatchDescendents(pattern, relativeKey)) return false;
    }
    for (size_t i = 0; i < features.size(); ++i) {
        const CSqlIncludeExcludeFeature& feature = features.at(i);
        if (feature.m_includeExcludeId == id && !feature.m_exclude) ++count;
    }
    return count > 0;
}

bool CSystemIntegrityKeyMatch::PatternWillNeverMatchDescendents(const CSqlIncludeExcludePattern& pattern,
                                                                const wxString& relativeKey) const {
    const wxArrayString& globParts = pattern.GetPathComponents();
    const wxArrayString keyParts = SplitKey(relativeKey);
    if (globParts.empty() || keyParts.empty()) return true;
    size_t i = 0;
    for (; i < globParts.size() && i < keyParts.size(); ++i) {
        if (globParts[i] == wxT("**")) return false;
        if (!WildcardMatches(keyParts[i], globParts[i], pattern.m_caseSensitive)) return true;
    }
    // The key ended first, or with the pattern: something below may still match.
    return i < keyParts.size();
}

int CSystemIntegrityKeyMatch::MaxKeyPathDepth(const CSqlIncludeExcludePatterns& patterns) {
    if (patterns.empty()) return INT_MAX;
    int deepest = 0;
    for (size_t i = 0; i < patterns.size(); ++i) {
        wxFileName glob;
        glob.AssignDir(patterns.at(i).m_pattern, wxPATH_UNIX);
        const wxArrayString& dirs = glob.GetDirs();
        if (dirs.Index(wxT("**")) != wxNOT_FOUND) return INT_MAX;
        deepest = std::max(deepest, static_cast<int>(dirs.size()));
    }
    return deepest;
}

wxString CSystemIntegrityKeyMatch::GetRelativeName(const wxString& base, const wxString& key) const {
    if (base.empty()) return key;
    const wxString separator = GetEntityKeySeparator();
    auto remainder = [&separator, &base, &key]() {
        wxString rest = key.Mid(base.length());
        if (!rest.empty() && !separator.empty() && rest[0] == separator[0]) rest.erase(0, 1);
        return rest;
    };
    if (key.StartsWith(base)) return remainder();
    if (!EntityKeysAreCaseSensitive() && key.Lower().StartsWith(base.Lower())) return remainder();
    return key;
}

int CSystemIntegrityKeyMatch::CompareKeys(const wxString& a, const wxString& b) const {
    const wxString separator = GetEntityKeySeparator();
    if (separator.empty()) return CompareStrings(a, b);
    wxStringTokenizer left(a, separator);
    wxStringTokenizer right(b, separator);
    while (left.HasMoreTokens()) {
        if (!right.HasMoreTokens()) return 1;
        const int result = CompareStrings(left.GetNextToken(), right.GetNextToken());
        if (result != 0) return result;
    }
    return right.HasMoreTokens() ? -1 : 0;
}

int CSystemIntegrityKeyMatch::CompareStrings(const wxString& a, const wxString& b) const {
    return EntityKeysAreCaseSensitive() ? CompareStringsCaseSensitive(a, b) : CompareStringsCaseInsensitive(a, b);
}

int CSystemIntegrityKeyMatch::CompareStringsCaseSensitive(const wxString& a, const wxString& b) {
    const int result = a.compare(b);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

int CSystemIntegrityKeyMatch::CompareStringsCaseInsensitive(const wxString& a, const wxString& b) {
    const int result = a.CmpNoCase(b);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

bool CSystemIntegrityKeyMatch::WildcardMatches(const wxString& text, const wxString& wildcard,
                                               int caseSensitive) const {
    if (CSqlIncludeExcludePattern::IgnoresCase(caseSensitive, EntityKeysAreCaseSensitive()))
        return text.Lower().Matches(wildcard.Lower());
    return text.Matches(wildcard);
}

wxString CSystemIntegrityKeyMatch::WithPatternSeparators(const wxString& key) const {
    const wxString separator = GetEntityKeySeparator();
    wxString converted = key;
    if (!separator.empty() && separator != wxT("/")) converted.Replace(separator, wxT("/"));
    return converted;
}

wxArrayString CSystemIntegrityKeyMatch::SplitKey(const wxString& key) const {
    wxArrayString parts;
    CSqlIncludeExcludePattern::Tokenize(key, GetEntityKeySeparator(), parts);
    return parts;
}

}  // namespace KvoPluginIm
