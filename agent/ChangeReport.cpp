#include "agent/ChangeReport.h"
#include "agent/Utf8.h"

#include <ctime>
#include <memory>
#include <utility>

#include <cjson/cJSON.h>

namespace KvoAgent {

namespace {

// The words of the count line, in the order of the exit bits.
const std::pair<int, const char*> kCountWords[] = {
    {CChangeEvent::Create, "created"},
    {CChangeEvent::Delete, "deleted"},
    {CChangeEvent::Update, "updated"},
    {CChangeEvent::Rename, "renamed"},
};

}  // namespace

CChangeReport::CChangeReport(std::vector<CChangeEvent> events, std::map<int, long long> changeCounts)
    : m_events(std::move(events)), m_changeCounts(std::move(changeCounts)) {}

std::map<int, long long> CChangeReport::Counts() const {
    if (!m_changeCounts.empty()) return m_changeCounts;
    std::map<int, long long> counts;
    for (const CChangeEvent& event : m_events) ++counts[event.change];
    return counts;
}

int CChangeReport::ExitBits() const {
    int bits = 0;
    for (const auto& count : Counts())
        if (count.second > 0) bits |= CChangeEvent::ExitBit(count.first);
    return bits;
}

std::string CChangeReport::CountsText() const {
    const std::map<int, long long> counts = Counts();
    std::string text;
    for (const auto& word : kCountWords) {
        const auto found = counts.find(word.first);
        if (found == counts.end() || found->second == 0) continue;
        if (!text.empty()) text += ", ";
        text += std::to_string(found->second) + " " + word.second;
    }
    return text.empty() ? "nothing changed" : text;
}

// Timestamps arrive as milliseconds since the epoch; people read them as times.
std::string CChangeReport::ValueText(const wxString& name, const wxString& value) {
    if (value.empty()) return "(none)";
    long long ms = 0;
    const bool timestamp = name == "lastModified" || name == "created" || name == "lastAccessed";
    if (timestamp && value.ToLongLong(&ms) && ms > 0) return TimeText(ms);
    return Narrow(value);
}

// The names of a condensed change, one per line, on one line.
wxString CChangeReport::Joined(const wxString& lines) {
    wxString text = lines;
    text.Replace("\n", ", ");
    return text;
}

std::string CChangeReport::TimeText(long long timeMs) {
    const time_t seconds = static_cast<time_t>(timeMs / 1000);
    struct tm utc;
    char text[40];
    if (gmtime_r(&seconds, &utc) == nullptr || strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc) == 0)
        return std::to_string(timeMs);
    char withMs[48];
    snprintf(withMs, sizeof withMs, "%s.%03lldZ", text, timeMs % 1000);
    return withMs;
}

void CChangeReport::PrintText(FILE* out) const {
    for (const CChangeEvent& event : m_events) {
        std::string head = TimeText(event.timeMs) + " " + Narrow(CChangeEvent::ChangeName(event.change));
        // A listing that names rules is one a person pages through by event id.
        if (!event.ruleName.empty())
            head = std::to_string(event.id) + " " + head + " [" + Narrow(event.ruleName) + "]";
        const std::string type = event.entityType.empty() ? "" : Narrow(event.entityType) + " ";
        fprintf(out, "%s %s%s\n", head.c_str(), type.c_str(), Narrow(event.key).c_str());
        if (!event.user.empty() || !event.process.empty())
            fprintf(out, "    by: %s (%s)\n", Narrow(Joined(event.user)).c_str(), Narrow(Joined(event.process)).c_str());
        for (const CChangeEvent::Attribute& attribute : event.attributes)
            fprintf(out, "    %s: %s -> %s\n", Narrow(attribute.name).c_str(),
                    ValueText(attribute.name, attribute.oldValue).c_str(),
                    ValueText(attribute.name, attribute.newValue).c_str());
    }
    if (!m_changeCounts.empty())
        fprintf(out, "(the newest %zu events shown; all of them: %s)\n", m_events.size(), CountsText().c_str());
}

void CChangeReport::PrintJson(FILE* out) const {
    for (const CChangeEvent& event : m_events) {
        std::unique_ptr<cJSON, void (*)(cJSON*)> root(cJSON_CreateObject(), cJSON_Delete);
        cJSON_AddNumberToObject(root.get(), "integrityEventId", static_cast<double>(event.id));
        cJSON_AddStringToObject(root.get(), "time", TimeText(event.timeMs).c_str());
        cJSON_AddStringToObject(root.get(), "change", Narrow(CChangeEvent::ChangeName(event.change)).c_str());
        cJSON_AddStringToObject(root.get(), "entityType", Narrow(event.entityType).c_str());
        cJSON_AddStringToObject(root.get(), "key", Narrow(event.key).c_str());
        cJSON_AddNumberToObject(root.get(), "integrityRuleId", static_cast<double>(event.ruleId));
        if (!event.ruleName.empty()) cJSON_AddStringToObject(root.get(), "rule", Narrow(event.ruleName).c_str());
        if (!event.user.empty()) cJSON_AddStringToObject(root.get(), "user", Narrow(event.user).c_str());
        if (!event.process.empty()) cJSON_AddStringToObject(root.get(), "process", Narrow(event.process).c_str());
        cJSON_AddNumberToObject(root.get(), "severity", static_cast<double>(event.severity));
        if (event.change == CChangeEvent::Update) {
            cJSON* attributes = cJSON_AddArrayToObject(root.get(), "attributes");
            for (const CChangeEvent::Attribute& attribute : event.attributes) {
                cJSON* item = cJSON_CreateObject();
                cJSON_AddStringToObject(item, "name", Narrow(attribute.name).c_str());
                cJSON_AddStringToObject(item, "old", Narrow(attribute.oldValue).c_str());
                cJSON_AddStringToObject(item, "new", Narrow(attribute.newValue).c_str());
                cJSON_AddItemToArray(attributes, item);
            }
        }
        std::unique_ptr<char, void (*)(void*)> text(cJSON_PrintUnformatted(root.get()), free);
        if (text) fprintf(out, "%s\n", text.get());
    }
}

}  // namespace KvoAgent
