#include "plugins/im/FileIntegrityKeyMatch.h"

#include "plugins/im/SqlFileEntitySet.h"
#include "plugins/im/SqlIncludeExcludeFeature.h"

namespace KvoPluginIm {

namespace {

bool IsExecutableFeature(const CSqlIncludeExcludeFeature& feature) {
    return feature.m_name.CmpNoCase(wxT("executable")) == 0;
}

}  // namespace

CFileIntegrityKeyMatch::CFileIntegrityKeyMatch(ExecutableTest test, wxPathFormat format)
    : CDirectoryIntegrityKeyMatch(format), m_isExecutable(test) {}

const wxChar* CFileIntegrityKeyMatch::GetEntityLeafType() const { return wxT(""); }

wxString CFileIntegrityKeyMatch::GetEntityType() const { return CSqlFileEntitySet::EntityType(); }

bool CFileIntegrityKeyMatch::EntityMatchesFeature(const wxString& fullKey, const wxString& relativeKey,
                                                  unsigned long depth, const KvoCore::XMLObjectList* sets,
                                                  const CSqlEntitySet& set, const CSqlIncludeExcludeFeature& feature,
                                                  const CSqlIncludeExcludeFeatures& features,
                                                  const CSqlIncludeExcludePatterns& patterns,
                                                  const KvoCore::Int64Set& ids) const {
    if (m_isExecutable && IsExecutableFeature(feature)) {
        const int fd = static_cast<int>(static_cast<long>(depth));
        return m_isExecutable(fullKey, fd) == (feature.m_value.CmpNoCase(wxT("true")) == 0);
    }
    return CDirectoryIntegrityKeyMatch::EntityMatchesFeature(fullKey, relativeKey, depth, sets, set, feature,
                                                             features, patterns, ids);
}

bool CFileIntegrityKeyMatch::FeaturesRequireFileOpen(const CSqlIncludeExcludeFeatures& features) {
    for (size_t i = 0; i < features.size(); ++i)
        if (IsExecutableFeature(features.at(i))) return true;
    return false;
}

}  // namespace KvoPluginIm
