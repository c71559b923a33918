#include "plugins/im/tool/WhyCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <wx/filename.h>

#include <cstdio>
#include <map>

#include "core/SqliteDatabase.h"
#include "core/XMLObjectList.h"
#include "core/hmd/HostMetaDataQueryResult.h"
#include "plugins/im/EntitySetInfo.h"
#include "plugins/im/RecordRegEx.h"
#include "plugins/im/SqlDirectoryEntitySet.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/StateKeys.h"
#include "plugins/im/SystemIntegrityHmdScannerThread.h"
#include "plugins/im/SystemIntegrityKeyMatch.h"
#include "plugins/im/SystemIntegrityScannerThread.h"

namespace KvoPluginIm {

namespace {

void Out(const wxString& text) { printf("%s\n", text.utf8_str().data()); }

// The directory as the walk names it: no trailing separator.
wxString DirectoryPath(const wxString& path) {
    wxFileName name;
    name.AssignDir(path);
    return name.GetPath(wxPATH_GET_VOLUME);
}

bool IsDirectory(const wxString& path) {
    struct stat status;
    return stat(path.fn_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsLink(const wxString& path) {
    struct stat status;
    return lstat(path.fn_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

std::map<long long, wxString> RuleNames(wxSQLite3Database& db) {
    std::map<long long, wxString> names;
    wxSQLite3ResultSet rows = db.ExecuteQuery(wxT("SELECT [integrityRuleId],[name] FROM [IntegrityRules];"));
    while (rows.NextRow()) names[rows.GetInt64(0).GetValue()] = rows.GetString(1);
    return names;
}

}  // namespace

bool CWhyCommand::Run(const std::vector<std::string>& keys, wxString& error) {
    KvoCore::CSqliteDatabase db(m_dom, Keys::kTraceKeyMatch);
    if (!db.OpenIntegrityDb(m_dom.GetWxString(Keys::kDbPath), KvoCore::DbAccess::ReadOnly)) {
        error = "the integrity database cannot be opened";
        return false;
    }
    bool ok = true;
    for (const std::string& text : keys) {
        wxString key = wxString::FromUTF8(text.c_str());
        wxString type = m_type;
        if (type.empty()) {
            wxFileName name(key);
            name.MakeAbsolute();
            key = name.GetFullPath();
            if (key.length() > 1 && key.EndsWith(wxT("/"))) key.RemoveLast();
            type = IsDirectory(key) ? wxT("Directory") : wxT("File");
        }
        try {
            if (!(ok = Explain(db, key, type, error))) break;
        } catch (const wxSQLite3Exception& e) {
            error = wxString::Format("the integrity database cannot be read: %s", e.GetMessage());
            ok = false;
            break;
        }
    }
    db.Close();
    return ok;
}

bool CWhyCommand::Explain(wxSQLite3Database& db, const wxString& key, const wxString& type, wxString& error) {
    auto subscan = std::make_unique<CSqlSubscan>();
    subscan->m_entityType = type;
    std::unique_ptr<CIntegrityScanThread> scanner(
        CIntegrityScanThread::CreateIntegrityScanThread(m_dom, nullptr, subscan.release()));
    if (!scanner) {
        error = wxString::Format("no scanner records entities of type %s", type);
        return false;
    }
    const CSystemIntegrityKeyMatch& matcher = *scanner->GetKeyMatcher();
    const std::unique_ptr<KvoCore::XMLObjectList> sets(scanner->CreateEntitySetCollection());
    sets->SQLLoad(db);
    const std::map<long long, wxString> rules = RuleNames(db);
    const bool tree = type == wxT("File") || type == wxT("Directory");
    wxString recordedBy;
    std::vector<wxString> whyNot;
    for (const KvoCore::XMLObject* member : sets->Children()) {
        const auto* set = static_cast<const CSqlEntitySet*>(member);
        CEntitySetInfo info(set);
        if (!info.Init(db)) {
            error = "the includes and excludes cannot be read";
            return false;
        }
        const auto rule = rules.find(set->m_integrityRuleId);
        const wxString where = wxString::Format(wxT("rule %lld \"%s\", %sSet %lld"), set->m_integrityRuleId,
                                                rule == rules.end() ? wxString() : rule->second, type,
                                                set->m_entitySetId);
        const wxString why = tree ? WhyNotInTree(matcher, *sets, info, key, type == wxT("Directory"))
                                  : WhyNotObject(*scanner, *sets, info, key);
        if (why.empty())
            recordedBy += (recordedBy.empty() ? wxT("") : wxT("; ")) + where;
        else
            whyNot.push_back(wxT("  ") + where + wxT(": ") + why);
    }
    if (!recordedBy.empty()) {
        Out(wxString::Format(wxT("%s %s: recorded by %s"), type, key, recordedBy));
        return true;
    }
    Out(wxString::Format(wxT("%s %s: not recorded%s"), type, key,
                         whyNot.empty() ? wxString::Format(wxT(" (no %s set is stored)"), type) : wxString()));
    for (const wxString& line : whyNot) Out(line);
    return true;
}

wxString CWhyCommand::WhyNotInTree(const CSystemIntegrityKeyMatch& matcher, const KvoCore::XMLObjectList& sets,
                                   const CEntitySetInfo& info, const wxString& key, bool isDirectory) const {
    const auto& set = static_cast<const CSqlDirectoryEntitySet&>(*info.GetSet());
    const wxString base = DirectoryPath(set.m_directorySearchBase);
    wxString start = base;
    if (!set.m_directoryRegEx.empty()) {
        // The walk starts in each directory of the search base that matches the base's expression.
        const wxString below = matcher.GetRelativeName(base + wxT("/"), key);
        if (below.length() == key.length()) return wxT("outside the search base ") + base;
        start = DirectoryPath(base + wxT("/") + below.BeforeFirst('/'));
        const CRecordRegEx* regEx = set.GetSearchRegEx();
        if (regEx == nullptr || !IsDirectory(start) || !regEx->Matches(start))
            return wxString::Format(wxT("%s does not match the base %s"), start, set.m_directory);
    }
    if (key == start) return wxT("it is where the walk starts; only what lies below it is recorded");
    const wxString relative = matcher.GetRelativeName(start + wxT("/"), key);
    if (relative.length() == key.length()) return wxT("outside the search base ") + start;
    if (isDirectory != (set.GetEntityType() == wxT("Directory")))
        return isDirectory ? wxT("a directory, and a FileSet records files") : wxT("not a directory");

    const wxArrayString components = wxSplit(relative, '/', 0);
    const int maxDepth = CSystemIntegrityKeyMatch::MaxKeyPathDepth(info.GetPatterns());
    if (static_cast<int>(components.size()) > maxDepth)
        return wxString::Format(wxT("deeper than the patterns reach: the walk lists only the first %d directory level%s from %s"),
                                maxDepth, maxDepth == 1 ? "" : "s", start);
    wxString directory = start;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        directory += wxT("/") + components[i];
        if (!set.m_followLinks && IsLink(directory))
            return directory + wxT(" is a symbolic link, and the set does not follow links");
        if (!matcher.ShouldDescend(info.GetFeatures(), info.GetPatterns(), info.GetIncludeExcludeIds(), start,
                                   directory))
            return wxT("the walk does not enter ") + directory + wxT(": no Include can match below it");
    }
    // Files are matched with their open descriptor (features read it), directories without.
    const int fd = isDirectory ? -1 : open(key.fn_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const wxString why = WhyNotMatched(matcher, sets, info, start, key,
                                       static_cast<unsigned long>(static_cast<long>(fd)));
    if (fd >= 0) close(fd);
    return why;
}

wxString CWhyCommand::WhyNotObject(CIntegrityScanThread& scanner, const KvoCore::XMLObjectList& sets,
                                   const CEntitySetInfo& info, const wxString& key) const {
    auto* hmd = dynamic_cast<CHostMetaDataIntegrityScanThread*>(&scanner);
    if (hmd == nullptr) return wxT("entities of this type are not looked up one by one");
    KvoCore::CHostMetaDataQueryResult objects;
    if (!hmd->GetHmdResult(objects)) return wxT("the host's list of these entities cannot be read");
    const CSystemIntegrityKeyMatch& matcher = *scanner.GetKeyMatcher();
    for (size_t i = 0; i < objects.size(); ++i)
        if (matcher.CompareKeys(objects[i].GetKey(), key) == 0)
            return WhyNotMatched(matcher, sets, info, wxString(), objects[i].GetKey(),
                                 reinterpret_cast<unsigned long>(&objects[i]));
    return wxT("there is no such entity on this host, so no scan finds it");
}

wxString CWhyCommand::WhyNotMatched(const CSystemIntegrityKeyMatch& matcher, const KvoCore::XMLObjectList& sets,
                                    const CEntitySetInfo& info, const wxString& searchBase, const wxString& key,
                                    unsigned long datum) {
    const auto& set = *info.GetSet();
    int reason = -1;
    if (matcher.EntityMatches(searchBase, key, datum, &sets, set, info.GetFeatures(), info.GetPatterns(),
                              info.GetIncludeExcludeIds(), reason))
        return wxString();
    const wxString relative = matcher.GetRelativeName(searchBase, key);
    for (long long id : info.GetIncludeExcludeIds()) {
        int ignored = -1;
        if (matcher.EntityMatchesAll(id, true, key, relative, datum, &sets, set, info.GetFeatures(), info.GetPatterns(),
                                     info.GetIncludeExcludeIds(), ignored))
            return wxT("excluded by the Exclude with ") + GroupText(info, id, true);
    }
    return wxT("no Include matched; ") + ReasonText(reason);
}

wxString CWhyCommand::GroupText(const CEntitySetInfo& info, long long id, bool exclude) {
    wxString text;
    const CSqlIncludeExcludePatterns& patterns = info.GetPatterns();
    for (size_t i = 0; i < patterns.size(); ++i)
        if (patterns.at(i).m_includeExcludeId == id && patterns.at(i).m_exclude == exclude)
            text += wxString(text.empty() ? wxT("") : wxT(", ")) + wxT("pattern \"") + patterns.at(i).m_pattern + wxT("\"");
    const CSqlIncludeExcludeFeatures& features = info.GetFeatures();
    for (size_t i = 0; i < features.size(); ++i)
        if (features.at(i).m_includeExcludeId == id && features.at(i).m_exclude == exclude)
            text += wxString(text.empty() ? wxT("") : wxT(", ")) + features.at(i).m_name + wxT("=\"") +
                    features.at(i).m_value + wxT("\"");
    return text;
}

wxString CWhyCommand::ReasonText(int reason) {
    static const wxChar* const texts[] = {
        wxT("the key is outside the set's search base"),
        wxT("an Include's directory part differs from the key's"),
        wxT("the extension differs, or the key's directory is not under the search base"),
        wxT("directory and extension agree but the name does not"),
    };
    if (reason < 0) return wxT("a feature of each Include does not match");
    if (reason > 3) return wxString::Format(wxT("unmatched reason %d"), reason);
    return wxString::Format(wxT("unmatched reason %d: %s"), reason, texts[reason]);
}

}  // namespace KvoPluginIm
