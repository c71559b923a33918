// CSqlFileEntitySet: one row of "FileSets" (every directory-set column, then
// the file columns), and its list.
//
// The record registers "operations" a second time, bound to the same member
// as the directory set's. "FileSets" still has a single operations column, so
// EnumAttributes reports an attribute name only at its first registration:
// SQL statements, their bindings, XML and Lua see one operations attribute in
// the directory-set position. Left visible, the repeat would make an UPDATE
// assign the column twice, and its second, never-cleared NULL mark would win.
#pragma once

#include "plugins/im/SqlDirectoryEntitySet.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlFileEntitySet : public CSqlDirectoryEntitySet {
public:
    CSqlFileEntitySet();

    static wxString ElementName() { return wxT("FileSet"); }
    static wxString EntityType() { return wxT("File"); }
    wxString GetElementName() const override { return ElementName(); }
    wxString GetEntityType() const override { return EntityType(); }
    void EnumAttributes(const std::function<bool(const Attribute&)>& fn) const override;

    bool m_monitorSize = false;
    bool m_monitorSha1 = false;
    bool m_monitorSha256 = false;
    bool m_monitorMd5 = false;
    bool m_monitorBlocksAllocated = false;
    bool m_monitorGrowing = false;
    bool m_monitorShrinking = false;
};

class CSqlFileEntitySets : public CSqlRecordList<CSqlFileEntitySet> {};

}  // namespace KvoPluginIm
