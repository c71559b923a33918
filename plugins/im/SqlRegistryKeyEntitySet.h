// CSqlRegistryKeyEntitySet: one row of "RegistryKeySets", and its list.
#pragma once

#include "plugins/im/SqlRecordList.h"
#include "plugins/im/SqlRegistryEntitySet.h"

namespace KvoPluginIm {

class CSqlRegistryKeyEntitySet : public CSqlRegistryEntitySet {
public:
    CSqlRegistryKeyEntitySet();

    static wxString ElementName() { return wxT("RegistryKeySet"); }
    static wxString EntityType() { return wxT("RegistryKey"); }
    wxString GetElementName() const override { return ElementName(); }
    wxString GetEntityType() const override { return EntityType(); }

    bool m_monitorOwner = false;
    bool m_monitorGroup = false;
    bool m_monitorPermissions = false;
    bool m_monitorLastModified = false;
    bool m_monitorClass = false;
    bool m_monitorSecurityDescriptorSize = false;
};

class CSqlRegistryKeyEntitySets : public CSqlRecordList<CSqlRegistryKeyEntitySet> {};

}  // namespace KvoPluginIm
