// CSystemIntegrityThread: the comparisons that decide whether a rule changed
// although its XML did not (variables that now expand differently, content
// hashes that a new contentShortHandMapping redefines), and the deprecated-hash check.
#include <openssl/evp.h>

#include <wx/filename.h>
#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/IntegrityRule.h"
#include "plugins/im/SqlDirectoryEntitySet.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {

int CSystemIntegrityThread::s_FipsModeForTesting = -1;

namespace {

const wxChar* const kFileSets = wxT("FileSets");
const wxChar* const kDirectorySets = wxT("DirectorySets");
const wxChar* const kDirectory = wxT("directory");
const wxChar* const kDirectorySearchBase = wxT("directorySearchBase");
const wxChar* const kIntegrityRuleId = wxT("integrityRuleId");
const wxChar* const kContents = wxT("contents");
const wxChar* const kMd5 = wxT("md5");

bool IsHashName(const wxString& name) { return name == kMd5 || name == wxT("sha1") || name == wxT("sha256"); }

}  // namespace

void CSystemIntegrityThread::SetFipsModeForTesting(int mode) { s_FipsModeForTesting = mode; }

bool CSystemIntegrityThread::IsFipsModeEnabled() {
    if (s_FipsModeForTesting >= 0) return s_FipsModeForTesting != 0;
    return EVP_default_properties_is_fips_enabled(nullptr) != 0;
}

bool CSystemIntegrityThread::RuleHeaderDiffers(const CIntegrityRule& stored, const CIntegrityRule& configured) {
    // type and confidential are left out: changing them needs no rescan.
    return stored.GetHash() != configured.GetHash() || stored.GetAllowOnChange() != configured.GetAllowOnChange() ||
           stored.GetIdentifier() != configured.GetIdentifier() || stored.GetName() != configured.GetName() ||
           stored.GetSeverity() != configured.GetSeverity();
}

bool CSystemIntegrityThread::RuleExpansionDiffers(const CIntegrityRule& rule) const {
    const size_t fileSets = rule.GetFileSets().size();
    if (fileSets > 0 && RuleExpansionDiffersFileOrDir(rule, fileSets, kFileSets)) return true;
    const size_t dirSets = rule.GetDirSets().size();
    return !m_bVmSafeGuest && dirSets > 0 && RuleExpansionDiffersFileOrDir(rule, dirSets, kDirectorySets);
}

bool CSystemIntegrityThread::RuleExpansionDiffersFileOrDir(const CIntegrityRule& rule, size_t setsInXml,
                                                           const wxString& table) const {
    const bool ignoreCase = !wxFileName::IsCaseSensitive(CIntegrityScanThread::GetPathFormat(m_dom));
    wxSQLite3ResultSet rows = m_db->ExecuteQuery(wxString::Format("SELECT [%s],[%s] FROM [%s] WHERE [%s]=%d;",
                                                                  kDirectory, kDirectorySearchBase, table,
                                                                  kIntegrityRuleId, rule.GetId()));
    size_t storedSets = 0;
    while (rows.NextRow()) {
        ++storedSets;
        const wxString directory = rows.GetString(0);
        const wxString storedBase = rows.GetString(1);
        CSqlDirectoryEntitySet scratch;
        if (!PopulateSearchBaseInfo(rule, directory, true, false, scratch, &CSqlDirectoryEntitySet::SetDirectory,
                                    &CSqlDirectoryEntitySet::SetDirectorySearchBase,
                                    &CSqlDirectoryEntitySet::SetDirectoryRegEx)) {
            KVO_TRACE(s_Trace, "Unable to populate search base for rule %d. Assuming rule expansion could have changed.",
                      rule.GetId());
            return true;
        }
        if (!scratch.m_directorySearchBase.IsSameAs(storedBase, !ignoreCase)) {
            KVO_TRACE(s_Trace, "Search base after expansion for rule %d differs: %s:%s", rule.GetId(), storedBase,
                      scratch.m_directorySearchBase);
            return true;
        }
    }
    if (storedSets != setsInXml) {
        KVO_TRACE(s_Trace, "Number of entity sets in rule %d differs. DB had %d, XML has %d", rule.GetId(),
                  static_cast<int>(storedSets), static_cast<int>(setsInXml));
        return true;
    }
    return false;
}

bool CSystemIntegrityThread::RuleHashesDiffer(const CIntegrityRule& rule, const wxString& oldMapping,
                                              const wxString& newMapping) const {
    if (RuleHashesDiffer(rule.GetFileSets(), oldMapping, newMapping)) return true;
    return !m_bVmSafeGuest && RuleHashesDiffer(rule.GetDirSets(), oldMapping, newMapping);
}

bool CSystemIntegrityThread::RuleHashesDiffer(const KvoCore::XMLObjectList& sets, const wxString& oldMapping,
                                              const wxString& newMapping) const {
    for (const KvoCore::XMLObject* member : sets.Children()) {
        KvoCore::WxStringSet monitored;
        static_cast<const CEntitySet&>(*member).GetAttributes().GetAttributesToMonitor(monitored);
        KvoCore::WxStringSet before;
        KvoCore::WxStringSet after;
        for (const wxString& name : monitored) {
            if (name == kContents) {
                AddContentNames(oldMapping, before);
                AddContentNames(newMapping, after);
            } else if (IsHashName(name)) {
                before.insert(name);
                after.insert(name);
            }
        }
        if (before != after) return true;
    }
    return false;
}

bool CSystemIntegrityThread::RuleHashesScan(const CIntegrityRule& rule) const {
    return RuleHashesScan(rule.GetFileSets());
}

bool CSystemIntegrityThread::RuleHashesScan(const KvoCore::XMLObjectList& sets) const {
    for (const KvoCore::XMLObject* member : sets.Children()) {
        KvoCore::WxStringSet monitored;
        static_cast<const CEntitySet&>(*member).GetAttributes().GetAttributesToMonitor(monitored);
        if (monitored.count(kMd5) > 0) return true;
    }
    return false;
}

}  // namespace KvoPluginIm
