#include "plugins/im/SqlDirectoryEntitySet.h"

#include <wx/regex.h>

#include "plugins/im/RecordRegEx.h"

namespace KvoPluginIm {

CSqlDirectoryEntitySet::CSqlDirectoryEntitySet() {
    AddAttribute(wxT("directory"), &m_directory);
    AddAttribute(wxT("directorySearchBase"), &m_directorySearchBase);
    AddAttribute(wxT("directoryRegEx"), &m_directoryRegEx);
    AddAttribute(wxT("followLinks"), &m_followLinks, false);
    AddAttribute(wxT("includeRemovable"), &m_includeRemovable, false);
    AddAttribute(wxT("monitorPermissions"), &m_monitorPermissions, false);
    AddAttribute(wxT("monitorCreated"), &m_monitorCreated, false);
    AddAttribute(wxT("monitorLastModified"), &m_monitorLastModified, false);
    AddAttribute(wxT("monitorLastAccessed"), &m_monitorLastAccessed, false);
    AddAttribute(wxT("monitorOwner"), &m_monitorOwner, false);
    AddAttribute(wxT("monitorGroup"), &m_monitorGroup, false);
    AddAttribute(wxT("monitorFlags"), &m_monitorFlags, false);
    AddAttribute(wxT("monitorFlagsAll"), &m_monitorFlagsAll, false);
    AddAttribute(wxT("monitorSymLinkPath"), &m_monitorSymLinkPath, false);
    AddAttribute(wxT("monitorInodeNumber"), &m_monitorInodeNumber, false);
    AddAttribute(wxT("monitorInodeGenerationNumber"), &m_monitorInodeGenerationNumber, false);
    AddAttribute(wxT("monitorDeviceNumber"), &m_monitorDeviceNumber, false);
    AddAttribute(wxT("operations"), &m_operations);
}

CSqlDirectoryEntitySet::~CSqlDirectoryEntitySet() = default;

void CSqlDirectoryEntitySet::EndElement() {
    m_searchRegEx = CRecordRegEx::Compile(m_directoryRegEx, CRecordRegEx::NativeNamesIgnoreCase());
}

void CSqlDirectoryEntitySet::SetToDefaults() {
    CSqlEntitySet::SetToDefaults();
    m_searchRegEx.reset();
}

void CSqlDirectoryEntitySet::SetDirectory(const wxString& directory) {
    m_directory = directory;
    SetAttributeNull(&m_directory, false);
}

void CSqlDirectoryEntitySet::SetDirectorySearchBase(const wxString& searchBase) {
    m_directorySearchBase = searchBase;
    SetAttributeNull(&m_directorySearchBase, false);
}

void CSqlDirectoryEntitySet::SetDirectoryRegEx(const wxString& regEx) {
    m_directoryRegEx = regEx;
    SetAttributeNull(&m_directoryRegEx, false);
}

}  // namespace KvoPluginIm
