#include "agent/FeedCommand.h"

#include <wx/filename.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/xml/xml.h>
#include <wx/wxsqlite3.h>

#include "agent/AgentHost.h"
#include "agent/PluginKeys.h"
#include "agent/Utf8.h"
#include "core/StateKeys.h"

namespace KvoAgent {

namespace {

const char* const kEntityTypes[] = {"Directory", "File", "Group", "InstalledSoftware", "Port", "Process",
                                    "RegistryKey", "RegistryValue", "Service", "User", "Wql"};

bool IsEntityType(const wxString& name) {
    for (const char* type : kEntityTypes)
        if (name == type) return true;
    return false;
}

// The end of the data: a record whose key is empty.
std::string EndMarker(const wxString& entityType) {
    return "<Entity entityType=\"" + Narrow(entityType) + "\" keyCanonical=\"\"/>";
}

}  // namespace

std::string CFeedCommand::QueueOf(const wxString& entityType) {
    return PluginKeys::kExternalEntityQueuePrefix + Narrow(entityType);
}

int CFeedCommand::Run(const std::vector<std::string>& lines) {
    const wxString path = m_dom.GetWxString(PluginKeys::kDbPath);
    KvoCore::CSqliteDatabase db(m_dom, KvoCore::Keys::kTraceAgent);
    if (!wxFileName::FileExists(path) || !db.OpenIntegrityDb(path, KvoCore::DbAccess::ReadOnly)) {
        fprintf(m_io.err, "kvo-agent: feed: the integrity database %s cannot be read (is there a baseline?)\n",
                Narrow(path).c_str());
        return ExitDatabase;
    }
    std::vector<std::pair<wxString, const std::string*>> records;
    std::map<wxString, long long> counts;
    int bad = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find_first_not_of(" \t\r") == std::string::npos) continue;
        wxString problem;
        const wxString type = Check(db, lines[i], problem);
        if (!problem.empty()) {
            fprintf(m_io.err, "kvo-agent: feed: record on line %zu: %s\n", i + 1, Narrow(problem).c_str());
            ++bad;
            continue;
        }
        records.emplace_back(type, &lines[i]);
        ++counts[type];
    }
    if (bad > 0) {
        fprintf(m_io.err, "kvo-agent: feed: %d of %zu records refused; nothing was fed\n", bad, records.size() + bad);
        return ExitBadInput;
    }
    for (const auto& [type, line] : records) m_dom.MsgBusEnqueue(QueueOf(type), *line);
    if (counts.empty()) counts["File"] = 0;
    wxString summary;
    for (const auto& [type, count] : counts) {
        m_dom.MsgBusEnqueue(QueueOf(type), EndMarker(type));
        summary << (summary.empty() ? "" : ", ") << type << " " << count;
    }
    fprintf(m_io.out, "fed %zu entity records to the running agent (%s), each type ended\n", records.size(),
            Narrow(summary).c_str());
    return ExitOk;
}

wxString CFeedCommand::Check(KvoCore::CSqliteDatabase& db, const std::string& line, wxString& problem) {
    wxLogNull quiet;  // the parser's own messages would go to the agent's log, not to the user
    wxMemoryInputStream input(line.data(), line.size());
    wxXmlDocument document;
    if (!document.Load(input, "UTF-8") || document.GetRoot() == nullptr) {
        problem = "not an XML element";
        return wxString();
    }
    const wxXmlNode* root = document.GetRoot();
    if (root->GetName() != "Entity") {
        problem = "the element is <" + root->GetName() + ">, not <Entity>";
        return wxString();
    }
    const wxString type = root->GetAttribute("entityType");
    if (!IsEntityType(type)) {
        problem = "unknown entity type '" + type + "'";
        return wxString();
    }
    if (root->GetAttribute("keyCanonical").empty()) {
        problem = "no keyCanonical (a record without a key would end the data)";
        return wxString();
    }
    long long setId = 0, ruleId = 0;
    if (!root->GetAttribute("entitySetId").ToLongLong(&setId) ||
        !root->GetAttribute("integrityRuleId").ToLongLong(&ruleId)) {
        problem = "entitySetId and integrityRuleId must be numbers";
        return wxString();
    }
    const long long setRule = RuleOfSet(db, type, setId);
    if (setRule < 0)
        problem = wxString::Format("there is no %s entity set %lld", type, setId);
    else if (setRule != ruleId)
        problem = wxString::Format("%s entity set %lld belongs to rule %lld, not %lld", type, setId, setRule, ruleId);
    return type;
}

long long CFeedCommand::RuleOfSet(KvoCore::CSqliteDatabase& db, const wxString& entityType, long long entitySetId) {
    try {
        wxSQLite3Statement select = db.PrepareStatement(
            wxString::Format("SELECT [integrityRuleId] FROM [%sSets] WHERE [entitySetId]=?1;", entityType));
        select.Bind(1, static_cast<wxLongLong>(entitySetId));
        wxSQLite3ResultSet row = select.ExecuteQuery();
        return row.NextRow() ? row.GetInt64(0).GetValue() : -1;
    } catch (const wxSQLite3Exception&) {
        return -1;  // a type whose sets this database does not hold
    }
}

}  // namespace KvoAgent
