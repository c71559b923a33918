// One file-system change as the engine hands it to the Lua loop, with the
// fields of the on-change object's notification table. A directory's path
// ends with "/".
#pragma once

#include <string>

namespace KvoAgent {

struct CRealtimeNotification {
    std::string operationType;  // "create", "update", "delete", "rename"
    std::string realpath;
    std::string oldname;        // a rename's previous path
    long long time = 0;         // milliseconds since the epoch
    std::string procUser;       // empty when not known
    std::string processName;
    std::string pid;

    bool SameChange(const CRealtimeNotification& other) const {
        return operationType == other.operationType && realpath == other.realpath && oldname == other.oldname &&
               pid == other.pid && procUser == other.procUser;
    }
};

}  // namespace KvoAgent
