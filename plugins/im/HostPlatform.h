// The platform test of the rule model: which host the rules are read for.
//
// With an agent object the agent decides (CDom::IsProtectingWindows, which
// tests can switch with the state key "kvo.host.windows"); without one, the
// forced-platform value does (0 Linux, anything else Windows). A forced
// nonzero value makes IsWindowsHost true even beside an agent. The forced value
// is process-wide; all functions are thread-safe.
#pragma once

#include <wx/string.h>

namespace KvoCore {
class CDom;
}

namespace KvoPluginIm {

bool IsWindowsHost();
// The same question asked of a given agent object rather than the process's.
bool IsWindowsHost(const KvoCore::CDom& agent);
bool IsLinuxHost();
// The Windows text when it is given and the host is Windows, else the Linux
// text when it is given and the host is Linux, else an empty string.
wxString PlatformText(const wxString& windowsText, const wxString& linuxText);
void SetForcePlatform(int platform);
// A stored timestamp (the host's file time) as milliseconds since 1970, in
// decimal; a value that is no number is returned as it is.
wxString TimestampToJTimeText(const wxString& value);

}  // namespace KvoPluginIm
