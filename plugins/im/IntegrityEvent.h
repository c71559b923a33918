// CIntegrityEvent: one integrity event in a query result (<IntegrityEvent>):
// which rule saw which change, between which entity versions.
// integrityEventId is the key.
#pragma once

#include "core/XMLObject.h"
#include "core/XMLObjectList.h"

namespace KvoPluginIm {

class CIntegrityEvent : public KvoCore::XMLObject {
public:
    CIntegrityEvent();
    wxString GetElementName() const override;

    long long GetIntegrityEventId() const { return m_integrityEventId; }
    void SetIntegrityEventId(long long id) { m_integrityEventId = id; }
    long long GetRecorded() const { return m_recorded; }
    void SetRecorded(long long recorded) { m_recorded = recorded; }
    int GetStatus() const { return m_status; }
    void SetStatus(int status) { m_status = status; }
    int GetIntegrityRuleId() const { return m_integrityRuleId; }
    void SetIntegrityRuleId(int id) { m_integrityRuleId = id; }
    int GetChange() const { return m_change; }
    void SetChange(int change) { m_change = change; }
    int GetSeverity() const { return m_severity; }
    void SetSeverity(int severity) { m_severity = severity; }
    long long GetWasEntity() const { return m_wasEntity; }
    void SetWasEntity(long long id) { m_wasEntity = id; }
    long long GetIsEntity() const { return m_isEntity; }
    void SetIsEntity(long long id) { m_isEntity = id; }
    const wxString& GetUser() const { return m_user; }
    void SetUser(const wxString& user) { m_user = user; }
    const wxString& GetProcess() const { return m_process; }
    void SetProcess(const wxString& process) { m_process = process; }

private:
    long long m_integrityEventId = 0;
    long long m_recorded = 0;
    int m_status = 0;
    int m_integrityRuleId = 0;
    int m_change = 0;
    int m_severity = 0;
    long long m_wasEntity = 0;
    long long m_isEntity = 0;
    wxString m_user;
    wxString m_process;
};

// The <IntegrityEvents> query result, wrapped.
class CIntegrityEvents : public KvoCore::XMLObjectList {
public:
    CIntegrityEvents() : XMLObjectList(false, false) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
