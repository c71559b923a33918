// CSystemIntegrityThread: the search base and expression of a base directory.
//
// A base such as ${env.DATA}/logs/*.d is expanded, normalised and cut into the
// directory where a scan starts walking (/data/logs) and an expression that
// the paths below it must match. Wildcards are allowed only in a trailing run
// of components, so the walk never has to search sideways.
#include <wx/filename.h>
#include <wx/regex.h>

#include "plugins/im/HostPlatform.h"
#include "plugins/im/IntegrityRule.h"
#include "plugins/im/SqlDirectoryEntitySet.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {

namespace {

const wxChar* const kVariable = wxT("\\$\\{([^{}]+)}");
// An unescaped "*" or "?" somewhere in a component.
const wxChar* const kWildcard = wxT("(^[*?])|([^\\\\]+[*?])");
const wxChar* const kEnvPrefix = wxT("env.");
// Bounds the expansion of values that name variables themselves.
const int kMaxExpansions = 32;

// The value as wxRegEx::Replace must be given it to stand for itself.
wxString EscapeReplacement(const wxString& value) {
    wxString escaped(value);
    escaped.Replace(wxT("\\"), wxT("\\\\"));
    escaped.Replace(wxT("&"), wxT("\\&"));
    return escaped;
}

// The base as event 8004 shows it: "${" would read as a variable to the
// consumer, and an empty field would vanish.
wxString BaseForEvent(const wxString& base) {
    if (base.empty()) return wxT(" ");
    wxString shown(base);
    shown.Replace(wxT("${"), wxT("$ {"));
    return shown;
}

bool IsUsableBase(const wxString& expanded, wxFileName& path, wxPathFormat format) {
    return !expanded.empty() && path.Normalize(wxPATH_NORM_DOTS, wxEmptyString, format) && path.IsAbsolute(format);
}

// The number of leading wildcard-free components, or -1 when a wildcard-free
// component follows a wildcard one.
int CountPlainComponents(const wxArrayString& components, bool& sawWildcard) {
    const wxRegEx wildcard(kWildcard, wxRE_EXTENDED | wxRE_NOSUB);
    int plain = 0;
    sawWildcard = false;
    for (const wxString& component : components) {
        if (wildcard.Matches(component))
            sawWildcard = true;
        else if (sawWildcard)
            return -1;
        else
            ++plain;
    }
    return plain;
}

wxString SearchBaseOf(const wxFileName& path, int plainComponents, wxPathFormat format) {
    wxFileName base(path);
    while (static_cast<int>(base.GetDirCount()) > plainComponents) base.RemoveLastDir();
    const wxString text = base.GetPath(wxPATH_GET_VOLUME, format);
    // Only native names have a long form; asking for a DOS one off Windows would
    // rewrite it with native separators.
    return format == wxPATH_NATIVE ? wxFileName(text, format).GetLongPath() : text;
}

}  // namespace

bool CSystemIntegrityThread::ExpandBaseVariables(const CIntegrityRule& rule, wxString& path, bool report) const {
    wxRegEx variable(kVariable, wxRE_EXTENDED);
    for (int expansions = 0; expansions < kMaxExpansions && variable.Matches(path); ++expansions) {
        const wxString name = variable.GetMatch(path, 1);
        wxString envName;
        wxString value;
        if (name.StartsWith(kEnvPrefix, &envName)) {
            if (IsWindowsHost(m_dom)) envName.MakeUpper();
            if (!m_dom.EnvGet(envName, value)) {
                if (report)
                    ReportRuleProblem(8003, wxString::Format("%d|%s|%s", rule.GetId(),
                                                             KvoCore::ReplaceBars(rule.GetName()),
                                                             KvoCore::ReplaceBars(envName)));
                return false;
            }
        }
        variable.Replace(&path, EscapeReplacement(value), 1);
    }
    return true;
}

bool CSystemIntegrityThread::PopulateSearchBaseInfo(const CIntegrityRule& rule, const wxString& base,
                                                    bool checkBase, bool report, CSqlDirectoryEntitySet& record,
                                                    DirectorySetter setKey, DirectorySetter setSearchBase,
                                                    DirectorySetter setRegEx) const {
    (record.*setKey)(base);
    wxString expanded(base);
    if (!ExpandBaseVariables(rule, expanded, report)) return false;

    const wxPathFormat format = CIntegrityScanThread::GetPathFormat(m_dom);
    wxFileName path;
    path.AssignDir(expanded, format);
    bool sawWildcard = false;
    const bool usable = !checkBase || IsUsableBase(expanded, path, format);
    const int plain = usable ? CountPlainComponents(path.GetDirs(), sawWildcard) : -1;
    if (plain < 0) {
        if (report)
            ReportRuleProblem(8004, wxString::Format("%d|%s|%s", rule.GetId(), KvoCore::ReplaceBars(rule.GetName()),
                                                     KvoCore::ReplaceBars(BaseForEvent(base))));
        return false;
    }

    wxString searchBase = SearchBaseOf(path, plain, format);
    wxString source = path.GetPath(wxPATH_GET_VOLUME, format);
    if (!wxFileName::IsCaseSensitive(format)) {
        searchBase.MakeLower();
        source.MakeLower();
    }
    (record.*setSearchBase)(searchBase);
    if (sawWildcard) (record.*setRegEx)(PatternToRegEx(source, format, true, true));
    return true;
}

}  // namespace KvoPluginIm
