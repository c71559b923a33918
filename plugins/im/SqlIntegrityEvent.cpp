#include "plugins/im/SqlIntegrityEvent.h"

namespace KvoPluginIm {

CSqlIntegrityEvent::CSqlIntegrityEvent() {
    UseNullDefaults();
    AddAttribute(wxT("entityType"), &m_entityType);
    AddAttribute(wxT("key"), &m_key);
    AddAttribute(wxT("description"), &m_description);
}

void CSqlIntegrityEvent::MarkSet(const wxChar* column) {
    // The base's members are private: reach them through their registration.
    if (const Attribute* attribute = FindAttribute(column)) SetAttributeNull(attribute->member, false);
}

void CSqlIntegrityEvent::SetIntegrityEventId(long long id) {
    CIntegrityEvent::SetIntegrityEventId(id);
    MarkSet(wxT("integrityEventId"));
}

void CSqlIntegrityEvent::SetRecorded(long long recorded) {
    CIntegrityEvent::SetRecorded(recorded);
    MarkSet(wxT("recorded"));
}

void CSqlIntegrityEvent::SetStatus(int status) {
    CIntegrityEvent::SetStatus(status);
    MarkSet(wxT("status"));
}

void CSqlIntegrityEvent::SetIntegrityRuleId(int id) {
    CIntegrityEvent::SetIntegrityRuleId(id);
    MarkSet(wxT("integrityRuleId"));
}

void CSqlIntegrityEvent::SetChange(int change) {
    CIntegrityEvent::SetChange(change);
    MarkSet(wxT("change"));
}

void CSqlIntegrityEvent::SetSeverity(int severity) {
    CIntegrityEvent::SetSeverity(severity);
    MarkSet(wxT("severity"));
}

void CSqlIntegrityEvent::SetWasEntity(long long id) {
    CIntegrityEvent::SetWasEntity(id);
    MarkSet(wxT("wasEntity"));
}

void CSqlIntegrityEvent::SetIsEntity(long long id) {
    CIntegrityEvent::SetIsEntity(id);
    MarkSet(wxT("isEntity"));
}

void CSqlIntegrityEvent::SetUser(const wxString& user) {
    CIntegrityEvent::SetUser(user);
    MarkSet(wxT("user"));
}

void CSqlIntegrityEvent::SetProcess(const wxString& process) {
    CIntegrityEvent::SetProcess(process);
    MarkSet(wxT("process"));
}

void CSqlIntegrityEvent::SetEntityType(const wxString& entityType) {
    m_entityType = entityType;
    SetAttributeNull(&m_entityType, false);
}

void CSqlIntegrityEvent::SetKey(const wxString& key) {
    m_key = key;
    SetAttributeNull(&m_key, false);
}

void CSqlIntegrityEvent::SetDescription(const wxString& description) {
    m_description = description;
    SetAttributeNull(&m_description, false);
}

}  // namespace KvoPluginIm
