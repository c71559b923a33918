// Running processes as /proc shows them, for the port and process queries.
// Reentrant.
#pragma once

#include <string>
#include <vector>

#include "core/hmd/HmdIdNames.h"
#include "core/hmd/HmdSources.h"
#include "core/hmd/HostMetaData.h"

namespace KvoCore {

struct HmdProcess {
    long long pid = 0;
    long long parentPid = 0;
    std::string name;  // comm
    unsigned long long startTicks = 0;  // clock ticks after boot
    long long uid = -1, gid = -1;       // real ids
    long long threads = -1;
    bool hasExe = false;
    std::string exe;          // readlink of exe, when hasExe
    std::string commandLine;  // arguments joined with single blanks
};

// The ids of the processes, ascending.
std::vector<long long> ListProcessIds();
// One process's stat and status (and with details its command line and
// executable). False when it is gone or goes while being read: then nothing
// of it is to be used.
bool ReadHmdProcess(long long pid, bool details, HmdProcess& process);
// The inodes of the sockets the process has open (none when it is gone).
std::vector<unsigned long long> ReadSocketInodes(long long pid);
// Seconds since the epoch at boot; false when /proc/stat does not say.
bool ReadBootTime(long long& seconds);
// The process's start as an ISO instant, or empty without a boot time.
wxString ProcessStartText(const HmdProcess& process, long long bootTime);
// "userId", "user", "groupId", "group" of the process's real ids.
void AppendProcessOwner(CHostMetaData& object, const HmdProcess& process, const HmdIdNames& names);

}  // namespace KvoCore
