// CAttributes: the <Attributes> element of an entity set, naming the
// attributes to monitor as empty child elements (<sha256/>, <STANDARD/>, <ALL/>).
//
// Every child element is judged against the owner's allowed names, read once
// on first use and kept across SetToDefaults: an allowed name is monitored,
// STANDARD and ALL (any case) add the owner's standard or allowed list, a name
// that exists but that this kind or platform does not offer is unsupported,
// anything else is unrecognised. Monitored names are kept lower-case; the
// others as written. All three are printed back as empty elements.
#pragma once

#include <functional>

#include "core/Utilities.h"
#include "core/XMLObject.h"

class wxTextOutputStream;

namespace KvoPluginIm {

class CEntitySet;

class CAttributes : public KvoCore::XMLObject {
public:
    // owner outlives this object (it is the owner's member).
    explicit CAttributes(const CEntitySet& owner);

    void PrintChildElements(wxTextOutputStream& out, unsigned int indent) const override;
    // Offers each monitored name as an AttributeDummyObject.
    void EnumChildObjects(const std::function<bool(const KvoCore::XMLObject&)>& fn) const override;
    wxString GetElementName() const override;
    bool HasChildElements() const override;
    void SetToDefaults() override;
    void OnUnhandledChildElement(const wxString& name) override;

    // The names to monitor: the owner's standard list when no <Attributes>
    // element was given, otherwise the monitored names.
    void GetAttributesToMonitor(KvoCore::WxStringSet& out) const;

    const KvoCore::WxStringSet& GetMonitored() const { return m_monitored; }
    const KvoCore::WxStringSet& GetUnrecognised() const { return m_unrecognised; }
    const KvoCore::WxStringSet& GetUnsupported() const { return m_unsupported; }

private:
    bool AddIfAllowed(const wxString& lower);

    const CEntitySet& m_owner;
    KvoCore::WxStringSet m_allowed;
    KvoCore::WxStringSet m_monitored;
    KvoCore::WxStringSet m_unrecognised;
    KvoCore::WxStringSet m_unsupported;
};

}  // namespace KvoPluginIm
