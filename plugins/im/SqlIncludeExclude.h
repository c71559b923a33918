// CSqlIncludeExclude: one row of "IncludeExcludes" (an include or exclude of
// an entity set, owner of patterns and features), and its list.
#pragma once

#include <wx/string.h>

#include "core/XMLObject.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlIncludeExclude : public KvoCore::XMLObject {
public:
    CSqlIncludeExclude();

    static wxString ElementName() { return wxT("IncludeExclude"); }
    wxString GetElementName() const override { return ElementName(); }

    long long m_includeExcludeId = 0;  // key
    wxString m_entityType;             // the owning set's entity type
    long long m_entitySetId = 0;
    bool m_exclude = false;
};

class CSqlIncludeExcludes : public CSqlRecordList<CSqlIncludeExclude> {};

}  // namespace KvoPluginIm
