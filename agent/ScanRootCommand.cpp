#include "agent/ScanRootCommand.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include <wx/dir.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/wxsqlite3.h>
#include <wx/xml/xml.h>

#include "agent/AgentHost.h"
#include "agent/EntityRecordXml.h"
#include "agent/PluginKeys.h"
#include "agent/Utf8.h"
#include "core/InstallLayout.h"
#include "core/StateKeys.h"

namespace KvoAgent {

namespace {

struct FileSetRow {
    long long setId;
    long long ruleId;
    wxString base;
};

// The file sets of the database, by rule, each rule's in the order they were stored.
std::vector<FileSetRow> FileSets(KvoCore::CSqliteDatabase& db) {
    std::vector<FileSetRow> sets;
    wxSQLite3ResultSet rows = db.ExecuteQuery(
        "SELECT [entitySetId],[integrityRuleId],[directorySearchBase] FROM [FileSets] ORDER BY 2,1;");
    while (rows.NextRow())
        sets.push_back({rows.GetInt64(0).GetValue(), rows.GetInt64(1).GetValue(), rows.GetString(2)});
    return sets;
}

wxString WithoutTrailingSeparator(wxString path) {
    while (path.length() > 1 && path.EndsWith("/")) path.RemoveLast();
    return path;
}

}  // namespace

CScanRootCommand::CScanRootCommand(KvoCore::CDom& dom, const wxString& startDir, const std::string& root,
                                   wxString configPath)
    : m_dom(dom), m_configPath(std::move(configPath)) {
    wxFileName dir = wxFileName::DirName(wxString::FromUTF8(root.c_str()));
    dir.MakeAbsolute(startDir);
    dir.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_ABSOLUTE);
    m_root = WithoutTrailingSeparator(dir.GetPath());
}

int CScanRootCommand::Run() {
    if (!wxDirExists(m_root) || m_root == "/") {
        fprintf(stderr, "kvo-agent: scan-root: %s is not a directory other than /\n", Narrow(m_root).c_str());
        return ExitUsage;
    }
    std::string scratch = Narrow(m_dom.GetWorkdirWx()) + "/scan-root.XXXXXX";
    if (mkdtemp(&scratch[0]) == nullptr) {
        fprintf(stderr, "kvo-agent: scan-root: cannot create a scratch directory in the work directory\n");
        return ExitInternal;
    }
    m_scratch = wxString::FromUTF8(scratch.c_str());
    const wxString config = m_scratch + "/rerooted.xml";
    wxString error;
    int status = ExitOk;
    if (!WriteRerootedConfiguration(config, error)) {
        fprintf(stderr, "kvo-agent: scan-root: %s\n", Narrow(error).c_str());
        status = ExitBadInput;
    } else if ((status = RecordScratchBaseline(config)) != ExitOk) {
        fprintf(stderr, "kvo-agent: scan-root: the scan of %s failed (exit status %d)\n", Narrow(m_root).c_str(),
                status);
    } else {
        status = PrintRecords(m_scratch + "/work/si.db");
    }
    wxFileName::Rmdir(m_scratch, wxPATH_RMDIR_RECURSIVE);
    return status;
}

bool CScanRootCommand::WriteRerootedConfiguration(const wxString& path, wxString& error) const {
    wxLogNull quiet;
    wxXmlDocument document;
    if (!document.Load(m_configPath) || document.GetRoot() == nullptr) {
        error = "cannot read the configuration " + m_configPath;
        return false;
    }
    wxXmlNode* root = document.GetRoot();
    for (wxXmlNode* child = root->GetChildren(); child != nullptr;) {
        wxXmlNode* next = child->GetNext();
        // The scratch agent sends nothing anywhere.
        if (child->GetName() == "Syslog") root->RemoveChild(child), delete child;
        child = next;
    }
    for (wxXmlNode* rules = root->GetChildren(); rules != nullptr; rules = rules->GetNext()) {
        if (rules->GetName() != "IntegrityRules") continue;
        for (wxXmlNode* rule = rules->GetChildren(); rule != nullptr; rule = rule->GetNext()) {
            for (wxXmlNode* set = rule->GetChildren(); set != nullptr;) {
                wxXmlNode* next = set->GetNext();
                if (set->GetType() == wxXML_ELEMENT_NODE && set->GetName() != "FileSet") {
                    rule->RemoveChild(set);
                    delete set;
                } else if (set->GetType() == wxXML_ELEMENT_NODE) {
                    const wxString base = set->GetAttribute("base");
                    set->DeleteAttribute("base");
                    set->AddAttribute("base", m_root + (base.StartsWith("/") ? "" : "/") + base);
                }
                set = next;
            }
        }
    }
    if (!document.Save(path)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

int CScanRootCommand::RecordScratchBaseline(const wxString& config) const {
    const std::string exe = KvoCore::CInstallLayout::Executable();
    if (exe.empty()) return ExitInternal;
    const std::string configArg = Narrow(config), workdirArg = Narrow(m_scratch + "/work");
    fflush(stdout);
    const pid_t child = fork();
    if (child < 0) return ExitInternal;
    if (child == 0) {
        // Its report is not part of the records.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execl(exe.c_str(), "kvo-agent", "--config", configArg.c_str(), "--workdir", workdirArg.c_str(), "baseline",
              static_cast<char*>(nullptr));
        _exit(ExitInternal);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return ExitInternal;
    return WIFEXITED(status) ? WEXITSTATUS(status) : ExitInternal;
}

bool CScanRootCommand::MapEntitySets(KvoCore::CSqliteDatabase& scratch, KvoCore::CSqliteDatabase& own,
                                     std::map<long long, long long>& setIds, wxString& error) const {
    const std::vector<FileSetRow> theirs = FileSets(scratch), ours = FileSets(own);
    for (size_t i = 0, j = 0; i < theirs.size(); ++i) {
        // The n-th file set of a rule here is the n-th of the same rule there.
        while (j < ours.size() && ours[j].ruleId < theirs[i].ruleId) ++j;
        const wxString expected = m_root + WithoutTrailingSeparator(j < ours.size() ? ours[j].base : wxString());
        if (j == ours.size() || ours[j].ruleId != theirs[i].ruleId ||
            WithoutTrailingSeparator(theirs[i].base) != expected) {
            error = wxString::Format("file set %lld of rule %lld is not in the integrity database %s as configured; "
                                     "the running agent must have taken up this configuration",
                                     theirs[i].setId, theirs[i].ruleId, m_dom.GetWxString(PluginKeys::kDbPath));
            return false;
        }
        setIds[theirs[i].setId] = ours[j++].setId;
    }
    return true;
}

int CScanRootCommand::PrintRecords(const wxString& scratchDb) {
    KvoCore::CSqliteDatabase scratch(m_dom, KvoCore::Keys::kTraceAgent), own(m_dom, KvoCore::Keys::kTraceAgent);
    const wxString ownPath = m_dom.GetWxString(PluginKeys::kDbPath);
    if (!wxFileName::FileExists(ownPath) || !own.OpenIntegrityDb(ownPath, KvoCore::DbAccess::ReadOnly) ||
        !scratch.OpenIntegrityDb(scratchDb, KvoCore::DbAccess::ReadOnly)) {
        fprintf(stderr, "kvo-agent: scan-root: the integrity database %s cannot be read (the agent records its "
                        "rules there when it starts)\n",
                Narrow(ownPath).c_str());
        return ExitDatabase;
    }
    try {
        CEntityRecordXml::Rerooting rerooting;
        rerooting.root = m_root;
        wxString error;
        if (!MapEntitySets(scratch, own, rerooting.setIds, error)) {
            fprintf(stderr, "kvo-agent: scan-root: %s\n", Narrow(error).c_str());
            return ExitBadInput;
        }
        const long long written = CEntityRecordXml(scratch).Print(stdout, "File", &rerooting);
        fprintf(stderr, "kvo-agent: scan-root: %lld file records of %s\n", written, Narrow(m_root).c_str());
    } catch (const wxSQLite3Exception& e) {
        fprintf(stderr, "kvo-agent: scan-root: %s\n", Narrow(e.GetMessage()).c_str());
        return ExitDatabase;
    }
    return ExitOk;
}

}  // namespace KvoAgent
