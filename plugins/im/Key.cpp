#include "plugins/im/Key.h"

namespace KvoPluginIm {

CKey::CKey() { AddAttribute(wxT("pattern"), &m_pattern); }

wxString CKey::GetElementName() const { return wxT("Key"); }

wxString CKeys::GetElementName() const { return wxT("Keys"); }

wxString CKeys::ChildElementName() const { return wxT("Key"); }

KvoCore::XMLObject* CKeys::CreateListElement() { return new CKey(); }

}  // namespace KvoPluginIm
