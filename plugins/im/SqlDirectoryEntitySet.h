// CSqlDirectoryEntitySet: one row of "DirectorySets", and its list.
//
// Beside its columns the record owns the compiled form of directoryRegEx. It
// is rebuilt by EndElement, which the base calls after every load (row or
// XML); the setters do not recompile, so a caller that sets directoryRegEx and
// wants the expression calls EndElement() itself. The expression ignores case
// only when the host's native file names do.
#pragma once

#include <memory>

#include <wx/string.h>

#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlDirectoryEntitySet : public CSqlEntitySet {
public:
    CSqlDirectoryEntitySet();
    ~CSqlDirectoryEntitySet() override;

    static wxString ElementName() { return wxT("DirectorySet"); }
    static wxString EntityType() { return wxT("Directory"); }
    wxString GetElementName() const override { return ElementName(); }
    wxString GetEntityType() const override { return EntityType(); }
    const wxString& GetSearchBase() const override { return m_directorySearchBase; }
    const CRecordRegEx* GetSearchRegEx() const override { return m_searchRegEx.get(); }
    bool HasHierarchicalNames() const override { return true; }
    void EndElement() override;
    void SetToDefaults() override;

    // Each assigns the column and clears its NULL mark.
    void SetDirectory(const wxString& directory);
    void SetDirectorySearchBase(const wxString& searchBase);
    void SetDirectoryRegEx(const wxString& regEx);

    wxString m_directory;            // the base as written in the rule
    wxString m_directorySearchBase;  // its directories before the first wildcard
    wxString m_directoryRegEx;       // expression for a wildcard base, else empty
    bool m_followLinks = false;
    bool m_includeRemovable = false;
    bool m_monitorPermissions = false;
    bool m_monitorCreated = false;
    bool m_monitorLastModified = false;
    bool m_monitorLastAccessed = false;
    bool m_monitorOwner = false;
    bool m_monitorGroup = false;
    bool m_monitorFlags = false;
    bool m_monitorFlagsAll = false;
    bool m_monitorSymLinkPath = false;
    bool m_monitorInodeNumber = false;
    bool m_monitorInodeGenerationNumber = false;
    bool m_monitorDeviceNumber = false;
    wxString m_operations;  // operation types joined with ","; empty: all

private:
    std::unique_ptr<CRecordRegEx> m_searchRegEx;
};

class CSqlDirectoryEntitySets : public CSqlRecordList<CSqlDirectoryEntitySet> {};

}  // namespace KvoPluginIm
