#include "plugins/im/DirectoryIntegrityKeyMatch.h"

#include "plugins/im/RecordRegEx.h"

#include "plugins/im/SqlDirectoryEntitySet.h"
#include "plugins/im/SqlEntitySet.h"

namespace KvoPluginIm {

CDirectoryIntegrityKeyMatch::CDirectoryIntegrityKeyMatch(wxPathFormat format) { SetPathFormat(format); }

void CDirectoryIntegrityKeyMatch::SetPathFormat(wxPathFormat format) {
    m_format = format;
    m_separator = wxFileName::GetPathSeparators(format).Left(1);
}

bool CDirectoryIntegrityKeyMatch::EntityKeysAreCaseSensitive() const { return wxFileName::IsCaseSensitive(m_format); }

const wxChar* CDirectoryIntegrityKeyMatch::GetEntityLeafType() const { return wxT("File"); }

wxString CDirectoryIntegrityKeyMatch::GetEntityType() const { return CSqlDirectoryEntitySet::EntityType(); }

bool CDirectoryIntegrityKeyMatch::KeyPathMatchesSearchBase(const wxString& key, const CSqlEntitySet* set) const {
    if (!set) return false;
    wxString dir = wxFileName(key, m_format).GetPath(wxPATH_GET_VOLUME, m_format);
    wxString base = set->GetSearchBase();
    if (!EntityKeysAreCaseSensitive()) {
        dir.MakeLower();
        base.MakeLower();
    }
    if (base.empty() || !dir.StartsWith(base)) return false;
    if (const CRecordRegEx* regEx = set->GetSearchRegEx()) return regEx->Matches(key);
    // The root base ("/") already ends with the separator.
    const wxString rest = dir.Mid(base.length());
    return rest.empty() || base.EndsWith(m_separator) || rest.StartsWith(m_separator);
}

}  // namespace KvoPluginIm
