// CEntitySet: one set of entities of a rule (files under a directory, users,
// ports, ...): its includes, excludes, operations and the attributes to monitor.
//
// Each kind says which attribute and feature names it offers and which
// attributes it monitors by default, as comma lists of names; those lists may
// depend on the host platform at the time they are asked for. Attributes of
// the set element that no kind registers are kept by name (their values are
// dropped) and printed back with the value "unknown".
#pragma once

#include <wx/string.h>

#include "core/Utilities.h"
#include "core/XMLObject.h"
#include "plugins/im/Attributes.h"
#include "plugins/im/EntitySetOperation.h"
#include "plugins/im/Exclude.h"
#include "plugins/im/Include.h"

class wxTextOutputStream;

namespace KvoPluginIm {

class CEntitySet : public KvoCore::XMLObject {
public:
    CEntitySet();

    virtual wxString GetAllowedAttributes() const = 0;
    virtual wxString GetAllowedFeatures() const;
    virtual wxString GetStandardAttributes() const = 0;
    void PrintAttributes(wxTextOutputStream& out) const override;

    void SetToDefaults() override;
    void OnUnhandledAttribute(const wxString& name, const wxString& value) override;

    bool GetOnChange() const { return m_onChange; }
    const CEntitySetOperations& GetOperations() const { return m_operations; }
    const CIncludes& GetIncludes() const { return m_includes; }
    const CExcludes& GetExcludes() const { return m_excludes; }
    const CAttributes& GetAttributes() const { return m_attributesToMonitor; }
    const KvoCore::WxStringSet& GetUnrecognisedAttributes() const { return m_unrecognisedAttributes; }

protected:
    bool m_onChange = true;
    CEntitySetOperations m_operations;
    CIncludes m_includes;
    CExcludes m_excludes;
    CAttributes m_attributesToMonitor;
    KvoCore::WxStringSet m_unrecognisedAttributes;
};

}  // namespace KvoPluginIm
