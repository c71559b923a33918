// CFileIntegrityKeyMatch: the key matcher of file keys; adds the "executable"
// feature, decided by a test that may read the file.
//
// For this matcher the depth argument of the matching calls carries the
// candidate's open descriptor (-1 when the caller opened none), which the
// executable test may read instead of opening the file again.
//
// Immutable after construction; safe to share between threads.
#pragma once

#include "plugins/im/DirectoryIntegrityKeyMatch.h"

namespace KvoPluginIm {

class CFileIntegrityKeyMatch : public CDirectoryIntegrityKeyMatch {
public:
    using ExecutableTest = bool (*)(const wxString& path, int fd);

    CFileIntegrityKeyMatch(ExecutableTest test, wxPathFormat format);

    const wxChar* GetEntityLeafType() const override;
    wxString GetEntityType() const override;
    bool EntityMatchesFeature(const wxString& fullKey, const wxString& relativeKey, unsigned long depth,
                              const KvoCore::XMLObjectList* sets, const CSqlEntitySet& set,
                              const CSqlIncludeExcludeFeature& feature, const CSqlIncludeExcludeFeatures& features,
                              const CSqlIncludeExcludePatterns& patterns, const KvoCore::Int64Set& ids) const override;

    // Whether a set's features need each candidate file open while matching.
    static bool FeaturesRequireFileOpen(const CSqlIncludeExcludeFeatures& features);

private:
    ExecutableTest m_isExecutable;
};

}  // namespace KvoPluginIm
