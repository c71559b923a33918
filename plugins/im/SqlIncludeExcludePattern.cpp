#include "plugins/im/SqlIncludeExcludePattern.h"

#include <wx/filename.h>
#include <wx/regex.h>

#include "plugins/im/RecordRegEx.h"

namespace KvoPluginIm {

CSqlIncludeExcludePattern::CSqlIncludeExcludePattern() {
    UseNullDefaults();
    AddAttribute(wxT("includeExcludeId"), &m_includeExcludeId, 0, false);
    AddAttribute(wxT("entityType"), &m_entityType);
    AddAttribute(wxT("entitySetId"), &m_entitySetId, 0, false);
    AddAttribute(wxT("exclude"), &m_exclude, false);
    AddAttribute(wxT("pattern"), &m_pattern);
    AddAttribute(wxT("regExPattern"), &m_regExPattern);
    AddAttribute(wxT("caseSensitive"), &m_caseSensitive);
}

CSqlIncludeExcludePattern::~CSqlIncludeExcludePattern() = default;

bool CSqlIncludeExcludePattern::IgnoresCase(int caseSensitive, bool hostNamesCaseSensitive) {
    if (caseSensitive == 0) return true;
    if (caseSensitive == 1) return false;
    return !hostNamesCaseSensitive;
}

void CSqlIncludeExcludePattern::Tokenize(const wxString& text, const wxString& separators,
                                         wxArrayString& pieces) {
    size_t start = text.find_first_not_of(separators);
    while (start != wxString::npos) {
        const size_t end = text.find_first_of(separators, start);
        pieces.Add(text.substr(start, end == wxString::npos ? wxString::npos : end - start));
        start = end == wxString::npos ? end : text.find_first_not_of(separators, end);
    }
}

void CSqlIncludeExcludePattern::EndElement() {
    // A NULL flag was never written as 0 or 1: treat it as "follow the host".
    const int caseSensitive = IsAttributeNull(&m_caseSensitive) ? 2 : m_caseSensitive;
    m_regEx = CRecordRegEx::Compile(m_regExPattern,
                                    IgnoresCase(caseSensitive, wxFileName::IsCaseSensitive(wxPATH_NATIVE)));
    m_pathComponents.Empty();
    Tokenize(m_pattern, wxT("/"), m_pathComponents);
}

void CSqlIncludeExcludePattern::SetToDefaults() {
    XMLObject::SetToDefaults();
    m_regEx.reset();
    m_pathComponents.Empty();
}

}  // namespace KvoPluginIm
