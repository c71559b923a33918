// CEntity: one recorded entity version in a query result (<Entity>), with its
// attributes. fastHash is the attribute hash in hexadecimal.
#pragma once

#include "core/XMLObject.h"
#include "core/XMLObjectList.h"
#include "plugins/im/EntityAttribute.h"

namespace KvoPluginIm {

class CEntity : public KvoCore::XMLObject {
public:
    CEntity();
    wxString GetElementName() const override;

    long long GetId() const { return m_id; }
    void SetId(long long id) { m_id = id; }
    const wxString& GetType() const { return m_type; }
    void SetType(const wxString& type) { m_type = type; }
    long long GetIntegrityRuleId() const { return m_integrityRuleId; }
    void SetIntegrityRuleId(long long id) { m_integrityRuleId = id; }
    const wxString& GetKey() const { return m_key; }
    void SetKey(const wxString& key) { m_key = key; }
    long long GetFingerprinted() const { return m_fingerprinted; }
    void SetFingerprinted(long long fingerprinted) { m_fingerprinted = fingerprinted; }
    const wxString& GetFastHash() const { return m_fastHash; }
    void SetFastHash(const wxString& fastHash) { m_fastHash = fastHash; }

    const CEntityAttributes& GetAttributes() const { return m_entityAttributes; }
    CEntityAttributes& GetAttributes() { return m_entityAttributes; }

private:
    long long m_id = 0;
    wxString m_type;
    long long m_integrityRuleId = 0;
    wxString m_key;
    long long m_fingerprinted = 0;
    wxString m_fastHash;
    CEntityAttributes m_entityAttributes;
};

// The <Entitys> query result, wrapped.
class CEntitys : public KvoCore::XMLObjectList {
public:
    CEntitys() : XMLObjectList(false, false) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
