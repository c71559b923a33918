// CSqlGroupEntitySet: one row of "GroupSets" (which attributes of a
// group set are monitored), and its list.
#pragma once

#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlGroupEntitySet : public CSqlEntitySet {
public:
    CSqlGroupEntitySet();

    static wxString ElementName() { return wxT("GroupSet"); }
    static wxString EntityType() { return wxT("Group"); }
    wxString GetElementName() const override { return ElementName(); }
    wxString GetEntityType() const override { return EntityType(); }

    bool m_monitorDescription = false;
    bool m_monitorGroup = false;
    bool m_monitorMembers = false;
    bool m_monitorSubGroups = false;
};

class CSqlGroupEntitySets : public CSqlRecordList<CSqlGroupEntitySet> {};

}  // namespace KvoPluginIm
