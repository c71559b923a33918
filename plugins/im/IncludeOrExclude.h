// CIncludeOrExclude: an Include or Exclude of an entity set: a glob in `key`
// and/or Key children, how to compare them (`caseSensitive`, kept as written),
// and features: further attributes that narrow the match (executable="true").
//
// Feature attributes are judged against the owner's allowed features, read
// once on first use and kept across SetToDefaults: an allowed one is stored
// with its value, a feature that exists but that this kind does not offer is
// unsupported, anything else unrecognised. Both are printed back with the
// values "unsupported" and "unknown".
#pragma once

#include "core/Utilities.h"
#include "core/XMLObject.h"
#include "plugins/im/Key.h"

class wxTextOutputStream;

namespace KvoPluginIm {

class CEntitySet;

class CIncludeOrExclude : public KvoCore::XMLObject {
public:
    // owner outlives this object (the owner's list holds it).
    explicit CIncludeOrExclude(const CEntitySet& owner);

    void PrintAttributes(wxTextOutputStream& out) const override;
    bool HasChildElements() const override;
    void SetToDefaults() override;
    void OnUnhandledAttribute(const wxString& name, const wxString& value) override;

    const wxString& GetKey() const { return m_key; }
    const wxString& GetCaseSensitive() const { return m_caseSensitive; }
    const CKeys& GetKeys() const { return m_keys; }
    // Feature name as written -> value.
    const KvoCore::MapStringToString& GetFeatures() const { return m_features; }
    const KvoCore::WxStringSet& GetUnrecognisedFeatures() const { return m_unrecognisedFeatures; }
    const KvoCore::WxStringSet& GetUnsupportedFeatures() const { return m_unsupportedFeatures; }

private:
    const CEntitySet& m_owner;
    wxString m_key;
    wxString m_caseSensitive;
    CKeys m_keys;
    KvoCore::WxStringSet m_allowedFeatures;
    KvoCore::MapStringToString m_features;
    KvoCore::WxStringSet m_unrecognisedFeatures;
    KvoCore::WxStringSet m_unsupportedFeatures;
};

}  // namespace KvoPluginIm
