// CIntegrityRule: one <IntegrityRule> of the configuration: identity,
// severity and the entity sets it watches.
//
// The Windows-only kinds (RegistryKeySet, RegistryValueSet, ServiceSet,
// WQLSet) are accepted only when the host is Windows at construction time.
// Child elements the rule does not take are kept by name: unsupported when
// they name an entity-set kind (known, but not offered here), unrecognised
// otherwise; both are printed back as empty elements before the sets.
#pragma once

#include <functional>

#include "core/IdNameObject.h"
#include "core/Utilities.h"
#include "core/XMLObjectList.h"
#include "plugins/im/DirSet.h"
#include "plugins/im/FileSet.h"
#include "plugins/im/GroupSet.h"
#include "plugins/im/InstalledSoftwareSet.h"
#include "plugins/im/PortSet.h"
#include "plugins/im/ProcessSet.h"
#include "plugins/im/RegistryKeySet.h"
#include "plugins/im/RegistryValueSet.h"
#include "plugins/im/ServiceSet.h"
#include "plugins/im/UserSet.h"
#include "plugins/im/WqlSet.h"

class wxTextOutputStream;

namespace KvoPluginIm {

class CIntegrityRule : public KvoCore::CIdNameObject {
public:
    CIntegrityRule();

    void PrintChildElements(wxTextOutputStream& out, unsigned int indent) const override;
    wxString GetElementName() const override;
    // A rule holding only elements it did not take still prints them back.
    bool HasChildElements() const override;
    void SetToDefaults() override;
    void OnUnhandledChildElement(const wxString& name) override;

    // Every set the rule accepted, kind by kind in registration order.
    void ForEachEntitySet(const std::function<void(const CEntitySet&)>& fn) const;

    bool GetAllowOnChange() const { return m_allowOnChange; }
    bool GetConfidential() const { return m_confidential; }
    const wxString& GetHash() const { return m_hash; }
    const wxString& GetIdentifier() const { return m_identifier; }
    int GetSeverity() const { return m_severity; }
    int GetType() const { return m_type; }

    const CDirSets& GetDirSets() const { return m_dirSets; }
    const CFileSets& GetFileSets() const { return m_fileSets; }
    const CGroupSets& GetGroupSets() const { return m_groupSets; }
    const CInstalledSoftwareSets& GetInstalledSoftwareSets() const { return m_installedSoftwareSets; }
    const CPortSets& GetPortSets() const { return m_portSets; }
    const CProcessSets& GetProcessSets() const { return m_processSets; }
    const CUserSets& GetUserSets() const { return m_userSets; }
    // Always empty unless the rule was built for a Windows host.
    const CRegistryKeySets& GetRegistryKeySets() const { return m_registryKeySets; }
    const CRegistryValueSets& GetRegistryValueSets() const { return m_registryValueSets; }
    const CServiceSets& GetServiceSets() const { return m_serviceSets; }
    const CWqlSets& GetWqlSets() const { return m_wqlSets; }

    const KvoCore::WxStringSet& GetUnrecognisedChildren() const { return m_unrecognisedChildren; }
    const KvoCore::WxStringSet& GetUnsupportedChildren() const { return m_unsupportedChildren; }

private:
    bool m_allowOnChange = false;
    bool m_confidential = false;
    wxString m_hash;
    wxString m_identifier;
    int m_severity = 0;
    int m_type = 0;

    CDirSets m_dirSets;
    CFileSets m_fileSets;
    CGroupSets m_groupSets;
    CInstalledSoftwareSets m_installedSoftwareSets;
    CPortSets m_portSets;
    CProcessSets m_processSets;
    CUserSets m_userSets;
    CRegistryKeySets m_registryKeySets;
    CRegistryValueSets m_registryValueSets;
    CServiceSets m_serviceSets;
    CWqlSets m_wqlSets;

    KvoCore::WxStringSet m_unrecognisedChildren;
    KvoCore::WxStringSet m_unsupportedChildren;
};

// The <IntegrityRules> element: the configured rules, wrapped.
class CIntegrityRules : public KvoCore::XMLObjectList {
public:
    CIntegrityRules() : XMLObjectList(false, false) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
