#include "agent/JsonEventFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <utility>

#include <cjson/cJSON.h>

namespace KvoAgent {

namespace {

// Every member of a JSON event is a string.
std::string Member(const cJSON* object, const char* name) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    return cJSON_IsString(item) && item->valuestring != nullptr ? item->valuestring : std::string();
}

long long MemberNumber(const cJSON* object, const char* name) {
    return std::strtoll(Member(object, name).c_str(), nullptr, 10);
}

int ChangeCode(const std::string& operation) {
    if (operation == "create") return CChangeEvent::Create;
    if (operation == "update") return CChangeEvent::Update;
    if (operation == "delete") return CChangeEvent::Delete;
    if (operation == "rename") return CChangeEvent::Rename;
    return 0;
}

// name -> the value people read: the friendly one when there is one.
std::map<wxString, wxString> AttributeValues(const cJSON* root, const char* member) {
    std::map<wxString, wxString> values;
    const cJSON* array = cJSON_GetObjectItemCaseSensitive(root, member);
    const cJSON* attribute = nullptr;
    cJSON_ArrayForEach(attribute, array) {
        const std::string friendly = Member(attribute, "friendlyValue");
        values[wxString::FromUTF8(Member(attribute, "name"))] =
            wxString::FromUTF8(friendly.empty() ? Member(attribute, "value") : friendly);
    }
    return values;
}

}  // namespace

CJsonEventFile::CJsonEventFile(std::string path) : m_path(std::move(path)) {}

long long CJsonEventFile::Size() const {
    struct stat st;
    return ::stat(m_path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

bool CJsonEventFile::Read(long long& offset, std::vector<CChangeEvent>& events, std::string& error) const {
    std::ifstream in(m_path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return true;
        error = m_path + ": " + std::strerror(errno);
        return false;
    }
    in.seekg(offset);
    std::string line;
    while (std::getline(in, line) && !in.eof()) {
        offset += static_cast<long long>(line.size()) + 1;
        CChangeEvent event;
        if (Parse(line, event)) events.push_back(std::move(event));
    }
    if (in.bad()) {
        error = m_path + ": read error";
        return false;
    }
    return true;
}

bool CJsonEventFile::Parse(const std::string& line, CChangeEvent& event) {
    std::unique_ptr<cJSON, void (*)(cJSON*)> root(cJSON_Parse(line.c_str()), cJSON_Delete);
    if (!root || Member(root.get(), "eventType") != "integrityMonitoring") return false;
    event.id = MemberNumber(root.get(), "integrityEventId");
    event.timeMs = MemberNumber(root.get(), "eventTime");
    event.ruleId = MemberNumber(root.get(), "integrityRuleId");
    event.severity = MemberNumber(root.get(), "severity");
    event.change = ChangeCode(Member(root.get(), "operationType"));
    event.entityType = wxString::FromUTF8(Member(root.get(), "entityType"));
    event.key = wxString::FromUTF8(Member(root.get(), "key"));
    event.user = wxString::FromUTF8(Member(root.get(), "user"));
    event.process = wxString::FromUTF8(Member(root.get(), "processName"));
    if (event.change == CChangeEvent::Update) ReadChangedAttributes(root.get(), event);
    return true;
}

// A JSON update carries both versions whole; what changed is where they differ.
void CJsonEventFile::ReadChangedAttributes(const cJSON* root, CChangeEvent& event) {
    const std::map<wxString, wxString> was = AttributeValues(root, "wasAttributes");
    const std::map<wxString, wxString> is = AttributeValues(root, "isAttributes");
    std::map<wxString, std::pair<wxString, wxString>> both;
    for (const auto& attribute : was) both[attribute.first].first = attribute.second;
    for (const auto& attribute : is) both[attribute.first].second = attribute.second;
    for (const auto& attribute : both)
        if (attribute.second.first != attribute.second.second)
            event.attributes.push_back({attribute.first, attribute.second.first, attribute.second.second});
}

}  // namespace KvoAgent
