// CSqlFeature: one row of "Features" (a named condition of an include or
// exclude, such as whereBaseInOtherSet), and its list. No key column.
#pragma once

#include <wx/string.h>

#include "core/XMLObject.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlFeature : public KvoCore::XMLObject {
public:
    CSqlFeature();

    static wxString ElementName() { return wxT("Feature"); }
    wxString GetElementName() const override { return ElementName(); }

    long long m_includeExcludeId = 0;
    wxString m_name;
    wxString m_value;
    int m_caseSensitive = 0;  // as in CSqlPattern
};

class CSqlFeatures : public CSqlRecordList<CSqlFeature> {};

}  // namespace KvoPluginIm
