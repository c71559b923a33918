// The host's own metadata, read from its files (/etc, /proc, the dpkg
// database), never through other programs. Each query clears result and
// fills it with objects sorted by key; it is false only when its main source
// cannot be read at all. An attribute whose source cannot be read is left
// out. flags and format are accepted for callers that pass them and select
// nothing. Reentrant: any thread may run any query at any time.
#pragma once

#include <wx/string.h>

#include "core/hmd/HostMetaDataQueryResult.h"

namespace KvoCore {

// "User" objects keyed by account name (/etc/passwd, /etc/shadow, /etc/group).
bool GetHmdUsers(CHostMetaDataQueryResult& result, int flags, const wxString& format);
// "Group" objects keyed by group name (/etc/group).
bool GetHmdGroups(CHostMetaDataQueryResult& result, int flags, const wxString& format);
// "Port" objects keyed "tcp/22", "udp/53": listening TCP and bound UDP sockets
// of IPv4 and IPv6, with the processes that own them.
bool GetHmdListenPorts(CHostMetaDataQueryResult& result, int flags, const wxString& format);
// "Process" objects keyed by executable path ("[name]" when there is none):
// one object per executable, one value per process in pid order.
bool GetHmdRunningProcesses(CHostMetaDataQueryResult& result, int flags, const wxString& format);
// "InstalledSoftware" objects keyed as dpkg names installed packages.
bool GetHmdInstalledSoftware(CHostMetaDataQueryResult& result, int flags, const wxString& format);

}  // namespace KvoCore
