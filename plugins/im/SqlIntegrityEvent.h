// CSqlIntegrityEvent: one row of "IntegrityEvents" (the event columns, then
// entityType, key and description), and its list.
//
// Columns that are never set are written as NULL (an event without an old
// entity has a NULL wasEntity). The event model's setters only assign, and its
// members are private, so this record's setters hide them: each assigns and
// clears the column's NULL mark. Set the columns through a CSqlIntegrityEvent,
// not through a CIntegrityEvent reference, or they stay NULL.
#pragma once

#include <wx/string.h>

#include "plugins/im/IntegrityEvent.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlIntegrityEvent : public CIntegrityEvent {
public:
    CSqlIntegrityEvent();

    static wxString ElementName() { return wxT("IntegrityEvent"); }
    wxString GetElementName() const override { return ElementName(); }

    void SetIntegrityEventId(long long id);
    void SetRecorded(long long recorded);
    void SetStatus(int status);
    void SetIntegrityRuleId(int id);
    void SetChange(int change);
    void SetSeverity(int severity);
    void SetWasEntity(long long id);
    void SetIsEntity(long long id);
    void SetUser(const wxString& user);
    void SetProcess(const wxString& process);
    void SetEntityType(const wxString& entityType);
    void SetKey(const wxString& key);
    void SetDescription(const wxString& description);

    const wxString& GetEntityType() const { return m_entityType; }
    const wxString& GetKey() const { return m_key; }
    const wxString& GetDescription() const { return m_description; }

private:
    void MarkSet(const wxChar* column);

    wxString m_entityType;
    wxString m_key;          // rename: old key + " -> " + new key
    wxString m_description;  // update: one line per changed attribute
};

class CSqlIntegrityEvents : public CSqlRecordList<CSqlIntegrityEvent> {};

}  // namespace KvoPluginIm
