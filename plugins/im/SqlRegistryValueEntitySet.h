// CSqlRegistryValueEntitySet: one row of "RegistryValueSets", and its list.
#pragma once

#include "plugins/im/SqlRecordList.h"
#include "plugins/im/SqlRegistryEntitySet.h"

namespace KvoPluginIm {

class CSqlRegistryValueEntitySet : public CSqlRegistryEntitySet {
public:
    CSqlRegistryValueEntitySet();

    static wxString ElementName() { return wxT("RegistryValueSet"); }
    static wxString EntityType() { return wxT("RegistryValue"); }
    wxString GetElementName() const override { return ElementName(); }
    wxString GetEntityType() const override { return EntityType(); }

    bool m_monitorSize = false;
    bool m_monitorSha1 = false;
    bool m_monitorSha256 = false;
    bool m_monitorMd5 = false;
    bool m_monitorType = false;
};

class CSqlRegistryValueEntitySets : public CSqlRecordList<CSqlRegistryValueEntitySet> {};

}  // namespace KvoPluginIm
