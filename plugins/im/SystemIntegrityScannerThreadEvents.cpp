// CIntegrityScanThread: integrity events, stored as IntegrityEvents rows or
// sent as JSON documents, each followed by its syslog line.
#include <cjson/cJSON.h>
#include <string.h>
#include <wx/wxsqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/Utilities.h"
#include "plugins/im/EventOutbox.h"
#include "plugins/im/HostPlatform.h"
#include "plugins/im/SqlAttribute.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlIntegrityEvent.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {

std::mutex CIntegrityScanThread::s_integrityEventIdMutex;
long long CIntegrityScanThread::s_integrityEventId = 0;

namespace {

enum Change { ChangeCreate = 1, ChangeUpdate = 2, ChangeDelete = 3, ChangeRename = 4 };

const char* const kEventSource = "im";

const char* OperationType(int change) {
    switch (change) {
        case ChangeCreate: return "create";
        case ChangeUpdate: return "update";
        case ChangeDelete: return "delete";
        case ChangeRename: return "rename";
        default: return "unknown";
    }
}

// The key an event names: a rename shows where the entity went from and to.
wxString EventKey(const CSqlEntity* was, const CSqlEntity* is, int change) {
    if (change == ChangeRename && was != nullptr && is != nullptr) return was->m_key + " -> " + is->m_key;
    if (change == ChangeDelete && was != nullptr) return was->m_key;
    if (is != nullptr) return is->m_key;
    return was != nullptr ? was->m_key : wxString();
}

std::string Base64(const wxString& text) {
    const wxScopedCharBuffer utf8 = text.utf8_str();
    return KvoCore::toBase64String(utf8.data(), utf8.length());
}

// Values as stored (UTF-8): most rows of two versions are equal, and only
// those told are converted.
struct AttributeRow {
    long long entityId;
    std::string name;
    std::string value;
    std::string friendlyValue;
};

std::string ColumnText(wxSQLite3ResultSet& result, int column) {
    int length = 0;
    const unsigned char* text = result.GetBlob(column, length);
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text), length);
}

wxString Wide(const std::string& text) { return wxString::FromUTF8(text.data(), text.size()); }

// Reads every row of the bound statement, then resets it and clears its
// bindings, also when reading fails.
std::vector<AttributeRow> ReadAttributeRows(wxSQLite3Statement& statement) {
    struct Release {
        wxSQLite3Statement& statement;
        ~Release() {
            statement.Reset();
            statement.ClearBindings();
        }
    } release{statement};
    // Columns by position: a record object per row cost more than the query.
    static const CSqlAttribute names;
    std::vector<AttributeRow> rows;
    wxSQLite3ResultSet result = statement.ExecuteQuery();
    const int entityId = result.FindColumnIndex(names.GetAttributeName(&names.m_entityId));
    const int name = result.FindColumnIndex(names.GetAttributeName(&names.m_name));
    const int value = result.FindColumnIndex(names.GetAttributeName(&names.m_value));
    const int friendlyValue = result.FindColumnIndex(names.GetAttributeName(&names.m_friendlyValue));
    while (result.NextRow())
        rows.push_back({result.GetInt64(entityId).GetValue(), ColumnText(result, name), ColumnText(result, value),
                        ColumnText(result, friendlyValue)});
    return rows;
}

void AddString(cJSON* object, const char* name, const wxString& value) {
    cJSON_AddStringToObject(object, name, value.utf8_str());
}

}  // namespace

long long CIntegrityScanThread::GetIntegrityEventId() {
    std::lock_guard<std::mutex> lock(s_integrityEventIdMutex);
    return ++s_integrityEventId;
}

void CIntegrityScanThread::ReportIntegrityEvent(const CSqlEntity* was, CSqlEntity* is, int status,
                                                int integrityRuleId, int change, long long eventTime,
                                                const wxString& user, const wxString& process) {
    if (eventTime == 0) eventTime = KvoCore::TimeNowMillis();
    wxString description, changedNames;
    if (change == ChangeUpdate && was != nullptr && is != nullptr &&
        !GetUpdatedEventDescription(was, is, description, changedNames)) {
        // Nothing a reader would see as changed: the version stays, the event does not.
        is->m_eventDropped = 1;
        is->SetAttributeNull(&is->m_eventDropped, false);
        wxSQLite3Statement& update = *Stmt().updateEntity;
        StatementRelease release(update);
        is->SQLUpdate(Db(), update);
        return;
    }

    if (GetEventMode() == 2) {
        ReportDenormalizedIntegrityEvent(was, is, status, integrityRuleId, change, eventTime, user, process);
    } else {
        CSqlIntegrityEvent event;
        event.SetRecorded(eventTime);
        event.SetStatus(status);
        event.SetIntegrityRuleId(integrityRuleId);
        event.SetChange(change);
        const CSqlEntity* latest = is != nullptr ? is : was;
        if (latest != nullptr) {
            event.SetSeverity(latest->m_integrityRuleSeverity);
            event.SetEntityType(latest->m_entityType);
        }
        if (was != nullptr) event.SetWasEntity(was->m_entityId);
        if (is != nullptr) event.SetIsEntity(is->m_entityId);
        if (!user.empty()) event.SetUser(user);
        if (!process.empty()) event.SetProcess(process);
        event.SetKey(EventKey(was, is, change));
        if (change == ChangeUpdate) event.SetDescription(description);
        {
            wxSQLite3Statement& insert = *Stmt().insertIntegrityEvent;
            StatementRelease release(insert);
            event.SQLInsert(Db(), insert);
        }
        KVO_SCANNER_TRACE("ReportIntegrityEvent() producing normalized event (changeType %d)", change);
    }
    SyslogSend(was, is, status, integrityRuleId, change, changedNames, eventTime, user, process);
    // Outside a transaction the event's versions are already committed.
    FlushOutbox();
}

bool CIntegrityScanThread::GetUpdatedEventDescription(const CSqlEntity* was, const CSqlEntity* is,
                                                      wxString& description, wxString& changedNames) {
    wxSQLite3Statement& select = *Stmt().attributesOfTwoEntities;
    select.Bind(1, static_cast<wxLongLong>(was->m_entityId));
    select.Bind(2, static_cast<wxLongLong>(is->m_entityId));
    const std::vector<AttributeRow> rows = ReadAttributeRows(select);

    for (size_t i = 0; i < rows.size();) {
        if (i + 1 < rows.size() && rows[i + 1].name == rows[i].name) {
            const bool inOrder = rows[i].entityId != is->m_entityId;
            const AttributeRow& older = inOrder ? rows[i] : rows[i + 1];
            const AttributeRow& newer = inOrder ? rows[i + 1] : rows[i];
            // Copies and restores can carry a birth time older than the one
            // recorded; only a later one is a change worth telling.
            const bool createdNotLater =
                older.name == "created" && (older.value.empty() || !(older.value < newer.value));
            if (older.value != newer.value && !createdNotLater)
                AppendChangeDetails(description, changedNames, Wide(older.name), Wide(older.value),
                                    Wide(older.friendlyValue), Wide(newer.value), Wide(newer.friendlyValue));
            i += 2;
            continue;
        }
        const AttributeRow& row = rows[i];
        if (row.entityId != is->m_entityId)
            AppendChangeDetails(description, changedNames, Wide(row.name), Wide(row.value), Wide(row.friendlyValue),
                                "", "");
        else if (row.name != "group" && row.name != "created")
            // The group and birth time of a version are not always known;
            // their appearing alone is no change of the entity.
            AppendChangeDetails(description, changedNames, Wide(row.name), "", "", Wide(row.value),
                                Wide(row.friendlyValue));
        ++i;
    }
    return !description.empty();
}

void CIntegrityScanThread::AppendChangeDetails(wxString& description, wxString& changedNames, const wxString& name,
                                               const wxString& oldValue, const wxString& oldFriendly,
                                               const wxString& newValue, const wxString& newFriendly) {
    if (!description.empty()) description << "\n";
    description << name << ":";
    if (!changedNames.empty()) changedNames << ",";
    changedNames << name;

    wxString oldText = oldFriendly, newText = newFriendly;
    if (oldFriendly == newFriendly) {
        const bool timestamp = CSystemIntegrityThread::IsTimestampAttribute(name);
        oldText = timestamp ? TimestampToJTimeText(oldValue) : oldValue;
        newText = timestamp ? TimestampToJTimeText(newValue) : newValue;
    }
    description << wxString::FromAscii(Base64(oldText).c_str()) << "_" << wxString::FromAscii(Base64(newText).c_str());
}

int CIntegrityScanThread::GetEntityAttributesInJson(const CSqlEntity* entity, wxString memberName, cJSON* parent) {
    wxSQLite3Statement& select = *Stmt().attributesOfEntity;
    select.Bind(1, static_cast<wxLongLong>(entity->m_entityId));
    const std::vector<AttributeRow> rows = ReadAttributeRows(select);

    cJSON* array = cJSON_CreateArray();
    if (array == nullptr) return -1;
    cJSON_AddItemToObject(parent, memberName.utf8_str(), array);
    for (const AttributeRow& row : rows) {
        if (row.name.empty() || row.value.empty()) {
            KVO_SCANNER_TRACE("there is not a pair of name and value, ignore it");
            continue;
        }
        cJSON* item = cJSON_CreateObject();
        if (item == nullptr) return -1;
        cJSON_AddItemToArray(array, item);
        cJSON_AddStringToObject(item, "name", row.name.c_str());
        if (row.name == "created" || row.name == "lastModified") {
            wxLongLong_t fileTime = 0;
            if (!Wide(row.value).ToLongLong(&fileTime, 10)) fileTime = 0;
            AddString(item, "value", wxString::Format("%lld", KvoCore::FileTimestampToJTime(fileTime)));
        } else {
            cJSON_AddStringToObject(item, "value", row.value.c_str());
        }
        if (!row.friendlyValue.empty()) cJSON_AddStringToObject(item, "friendlyValue", row.friendlyValue.c_str());
    }
    return 0;
}

void CIntegrityScanThread::ReportDenormalizedIntegrityEvent(const CSqlEntity* was, const CSqlEntity* is,
                                                            int /*status*/, int integrityRuleId, int change,
                                                            long long eventTime, const wxString& user,
                                                            const wxString& process) {
    KvoCore::CDom* dom = GetDom();
    if (dom == nullptr) {
        KvoCore::LogError("Skipping writing event due to invalid dom object");
        return;
    }
    std::unique_ptr<cJSON, void (*)(cJSON*)> event(cJSON_CreateObject(), cJSON_Delete);
    if (!event) return;
    cJSON* object = event.get();
    AddString(object, "integrityEventId", wxString::Format("%ld", static_cast<long>(GetIntegrityEventId())));
    AddString(object, "eventTime", wxString::Format("%lld", eventTime));
    AddString(object, "eventType", "integrityMonitoring");
    // The scanner's own type, but for the files a directory's rename or
    // delete carries with it.
    const CSqlEntity* latest = is != nullptr ? is : was;
    AddString(object, "entityType", latest != nullptr ? latest->m_entityType : GetEntityType());
    AddString(object, "integrityRuleId", wxString::Format("%ld", static_cast<long>(integrityRuleId)));
    AddString(object, "operationType", OperationType(change));
    if (!process.empty()) AddString(object, "processName", process);
    if (!user.empty()) AddString(object, "user", user);
    if (const CSqlEntity* rated = was != nullptr ? was : is)
        AddString(object, "severity", wxString::Format("%ld", static_cast<long>(rated->m_integrityRuleSeverity)));
    AddString(object, "key", EventKey(was, is, change));
    if (was != nullptr) {
        AddString(object, "wasKey", was->m_key);
        AddString(object, "wasFastHash", KvoCore::toHexString(was->m_attributeHash));
    }
    if (is != nullptr) {
        AddString(object, "isKey", is->m_key);
        AddString(object, "isFastHash", KvoCore::toHexString(is->m_attributeHash));
    }
    if (was != nullptr && GetEntityAttributesInJson(was, "wasAttributes", object) < 0) return;
    if (is != nullptr && GetEntityAttributesInJson(is, "isAttributes", object) < 0) return;

    char* text = cJSON_PrintUnformatted(object);
    if (text == nullptr) {
        KVO_SCANNER_TRACE("json serialization failed");
        return;
    }
    const std::string json(text);
    cJSON_free(text);
    KVO_SCANNER_TRACE("json event, len=%lu string is: %s", static_cast<unsigned long>(json.size()),
                      wxString::FromUTF8(json.c_str()));
    // Written once the batch that recorded the versions commits.
    if (dom->IsEventOverIoT(kEventSource)) m_outbox->Put(CEventOutbox::ChannelIoTEvents, 0, json);
    if (dom->IsEventOverHeartbeat(kEventSource)) m_outbox->Put(CEventOutbox::ChannelEvents, 0, json);
}

bool CIntegrityScanThread::SendOutboxEntry(int channel, long long timeSeconds, const std::string& text) {
    const unsigned long length = static_cast<unsigned long>(text.size());
    switch (channel) {
        case CEventOutbox::ChannelEvents:
            if (m_dom.EventWrite(text.c_str(), length)) return true;
            break;
        case CEventOutbox::ChannelIoTEvents:
            if (m_dom.IoTEventWrite(text.c_str(), length)) return true;
            break;
        case CEventOutbox::ChannelSyslog:
            return SyslogDeliver(text, timeSeconds);
        default:
            return true;  // no channel of this agent: nothing to keep it for
    }
    KVO_SCANNER_TRACE("json event could not be written to Events DB");
    return false;
}

}  // namespace KvoPluginIm
