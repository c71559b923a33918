// CSqlPattern: one row of "Patterns" (a glob of an include or exclude with its
// regular-expression translation), and its list. The table has no key column:
// rows are written and read by includeExcludeId, never updated one by one.
#pragma once

#include <wx/string.h>

#include "core/XMLObject.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlPattern : public KvoCore::XMLObject {
public:
    CSqlPattern();

    static wxString ElementName() { return wxT("Pattern"); }
    wxString GetElementName() const override { return ElementName(); }

    long long m_includeExcludeId = 0;
    wxString m_pattern;       // the glob as written (lower-cased when case is ignored)
    wxString m_regExPattern;  // its translation; empty for kinds whose keys are not paths
    int m_caseSensitive = 0;  // 0 ignore case, 1 exact, other: the host's file-name rule
};

class CSqlPatterns : public CSqlRecordList<CSqlPattern> {};

}  // namespace KvoPluginIm
