// CSqlIncludeExcludePattern: one row of the relation "IncludeExcludePatterns"
// (an include or exclude joined with one of its patterns), and its list.
// Read-only: the relation is a view.
//
// Beside its columns the record owns, rebuilt by EndElement after every load:
// the compiled form of regExPattern (null when empty or not compiling) and the
// pattern's path components. The matcher walks the components to decide how
// deep a pattern can reach.
#pragma once

#include <memory>

#include <wx/arrstr.h>
#include <wx/string.h>

#include "core/XMLObject.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CRecordRegEx;

class CSqlIncludeExcludePattern : public KvoCore::XMLObject {
public:
    CSqlIncludeExcludePattern();
    ~CSqlIncludeExcludePattern() override;

    static wxString ElementName() { return wxT("IncludeExcludePattern"); }
    wxString GetElementName() const override { return ElementName(); }
    void EndElement() override;
    void SetToDefaults() override;

    // Owned by the record; valid until its next load.
    const CRecordRegEx* GetRegEx() const { return m_regEx.get(); }
    const wxArrayString& GetPathComponents() const { return m_pathComponents; }

    // Whether a pattern compares without case: caseSensitive 0 ignores case,
    // 1 respects it, anything else follows the host's file-name rule.
    static bool IgnoresCase(int caseSensitive, bool hostNamesCaseSensitive);
    // Appends to pieces every run of text between separator characters, so
    // that leading, trailing and repeated separators give no empty piece.
    static void Tokenize(const wxString& text, const wxString& separators, wxArrayString& pieces);

    long long m_includeExcludeId = 0;
    wxString m_entityType;
    long long m_entitySetId = 0;
    bool m_exclude = false;
    wxString m_pattern;
    wxString m_regExPattern;
    int m_caseSensitive = 0;

private:
    std::unique_ptr<CRecordRegEx> m_regEx;
    wxArrayString m_pathComponents;
};

class CSqlIncludeExcludePatterns : public CSqlRecordList<CSqlIncludeExcludePattern> {};

}  // namespace KvoPluginIm
