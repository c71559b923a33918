// CSqlWqlEntitySet: one row of "WqlSets" (a management-instrumentation query
// set), and its list. A Windows entity type: rule storage never writes it.
#pragma once

#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlWqlEntitySet : public CSqlEntitySet {
public:
    CSqlWqlEntitySet();

    static wxString ElementName() { return wxT("WqlSet"); }
    static wxString EntityType() { return wxT("Wql"); }
    wxString GetElementName() const override { return ElementName(); }
    wxString GetEntityType() const override { return EntityType(); }

    wxString m_namespace;
    wxString m_wql;
    wxString m_provider;
    int m_timeout = 5000;  // milliseconds
};

class CSqlWqlEntitySets : public CSqlRecordList<CSqlWqlEntitySet> {};

}  // namespace KvoPluginIm
