// CSqlRegistryEntitySet: base of the two registry set records (keys and
// values), whose keys are registry paths under registryKeySearchBase.
//
// Owns the compiled form of registryKeyRegEx, rebuilt by EndElement after
// every load; registry paths compare without case, so it always ignores case.
// The setters do not recompile (call EndElement() to refresh).
#pragma once

#include <memory>

#include <wx/string.h>

#include "plugins/im/SqlEntitySet.h"

namespace KvoPluginIm {

class CSqlRegistryEntitySet : public CSqlEntitySet {
public:
    CSqlRegistryEntitySet();
    ~CSqlRegistryEntitySet() override;

    const wxString& GetSearchBase() const override { return m_registryKeySearchBase; }
    const CRecordRegEx* GetSearchRegEx() const override { return m_searchRegEx.get(); }
    bool HasHierarchicalNames() const override { return true; }
    void EndElement() override;
    void SetToDefaults() override;

    // Each assigns the column and clears its NULL mark.
    void SetRegistryKey(const wxString& key);
    void SetRegistryKeySearchBase(const wxString& searchBase);
    void SetRegistryKeyRegEx(const wxString& regEx);

    wxString m_registryKey;
    wxString m_registryKeySearchBase;
    wxString m_registryKeyRegEx;

private:
    std::unique_ptr<CRecordRegEx> m_searchRegEx;
};

}  // namespace KvoPluginIm
