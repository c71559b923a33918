// CSystemIntegrityThread: storing file and directory sets, whose base
// directory becomes a search base and expression, and whose "contents" stands
// for the configured content hashes.
#include <wx/tokenzr.h>

#include "core/SqliteDatabase.h"
#include "plugins/im/IntegrityRule.h"
#include "plugins/im/SqlDirectoryEntitySet.h"
#include "plugins/im/SqlFileEntitySet.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {

namespace {

const wxChar* const kContents = wxT("contents");

// The types of the set's Operation elements, empty ones skipped, joined with ",".
wxString JoinOperations(const CEntitySetOperations& operations) {
    wxString joined;
    for (const KvoCore::XMLObject* member : operations.Children()) {
        const wxString& types = static_cast<const CEntitySetOperation&>(*member).GetTypes();
        if (types.empty()) continue;
        if (!joined.empty()) joined += wxT(',');
        joined += types;
    }
    return joined;
}

}  // namespace

void CSystemIntegrityThread::AddContentNames(const wxString& mapping, KvoCore::WxStringSet& names) {
    wxStringTokenizer pieces(mapping.empty() ? wxString(wxT("sha1")) : mapping, wxT(","), wxTOKEN_STRTOK);
    while (pieces.HasMoreTokens()) {
        wxString name = pieces.GetNextToken();
        name.Trim(true).Trim(false);
        if (!name.empty()) names.insert(name.Lower());
    }
}

bool CSystemIntegrityThread::PopulateEntitySet(const CIntegrityRule& rule, const CFileSet& set,
                                               CSqlFileEntitySet& record) {
    KvoCore::WxStringSet monitored;
    set.GetAttributes().GetAttributesToMonitor(monitored);
    if (monitored.erase(kContents) > 0) AddContentNames(m_contentShortHandMapping, monitored);
    return PopulateFileOrDirSet(rule, set, record, monitored);
}

bool CSystemIntegrityThread::PopulateEntitySet(const CIntegrityRule& rule, const CFileOrDirSet& set,
                                               CSqlDirectoryEntitySet& record) {
    KvoCore::WxStringSet monitored;
    set.GetAttributes().GetAttributesToMonitor(monitored);
    return PopulateFileOrDirSet(rule, set, record, monitored);
}

bool CSystemIntegrityThread::PopulateFileOrDirSet(const CIntegrityRule& rule, const CFileOrDirSet& set,
                                                  CSqlDirectoryEntitySet& record,
                                                  const KvoCore::WxStringSet& monitored) {
    if (!PopulateSearchBaseInfo(rule, set.GetBase(), true, true, record, &CSqlDirectoryEntitySet::SetDirectory,
                                &CSqlDirectoryEntitySet::SetDirectorySearchBase,
                                &CSqlDirectoryEntitySet::SetDirectoryRegEx))
        return false;
    record.m_followLinks = set.GetFollowLinks();
    record.SetAttributeNull(&record.m_followLinks, false);
    record.m_includeRemovable = set.GetIncludeRemovable();
    record.SetAttributeNull(&record.m_includeRemovable, false);
    CountAndSetMonitorColumns(record, monitored);
    record.m_operations = JoinOperations(set.GetOperations());
    record.SetAttributeNull(&record.m_operations, false);
    return PopulateEntitySet(rule, static_cast<const CEntitySet&>(set), static_cast<CSqlEntitySet&>(record));
}

}  // namespace KvoPluginIm
