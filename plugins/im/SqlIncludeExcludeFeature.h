// CSqlIncludeExcludeFeature: one row of the relation "IncludeExcludeFeatures"
// (an include or exclude joined with one of its features), and its list.
// Read-only: the relation is a view.
#pragma once

#include <wx/string.h>

#include "core/XMLObject.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlIncludeExcludeFeature : public KvoCore::XMLObject {
public:
    CSqlIncludeExcludeFeature();

    static wxString ElementName() { return wxT("IncludeExcludeFeature"); }
    wxString GetElementName() const override { return ElementName(); }

    long long m_includeExcludeId = 0;
    wxString m_entityType;
    long long m_entitySetId = 0;
    bool m_exclude = false;
    wxString m_name;
    wxString m_value;
    int m_caseSensitive = 0;  // as in CSqlPattern
};

class CSqlIncludeExcludeFeatures : public CSqlRecordList<CSqlIncludeExcludeFeature> {};

}  // namespace KvoPluginIm
