// The host's one conversion of the plug-in's wide texts to the UTF-8 it prints.
#pragma once

#include <wx/string.h>

#include <string>

namespace KvoAgent {

inline std::string Narrow(const wxString& text) { return std::string(text.utf8_str()); }

}  // namespace KvoAgent
