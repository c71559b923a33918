// CWqlSet: a WQLSet element: the result rows of a management query (Windows
// hosts only). It offers no attribute names, so it never monitors anything.
#pragma once

#include "core/XMLObjectList.h"
#include "plugins/im/EntitySet.h"

namespace KvoPluginIm {

class CWqlSet : public CEntitySet {
public:
    CWqlSet();
    wxString GetElementName() const override;
    wxString GetAllowedAttributes() const override;
    wxString GetStandardAttributes() const override;

    const wxString& GetNamespace() const { return m_namespace; }
    const wxString& GetWql() const { return m_wql; }
    const wxString& GetProvider() const { return m_provider; }
    int GetTimeout() const { return m_timeout; }

private:
    wxString m_namespace;
    wxString m_wql;
    wxString m_provider;
    int m_timeout = 0;
};

// The WQLSet elements of a rule, unwrapped under it.
class CWqlSets : public KvoCore::XMLObjectList {
public:
    CWqlSets() : XMLObjectList(false, true) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
