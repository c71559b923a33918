// CChangeSink: where a change source puts what it read. Missed says that
// changes happened that cannot be told one by one (a queue overflowed, a path
// could not be resolved): the receiver must have them found by a scan.
#pragma once

#include <string>

#include "agent/RealtimeNotification.h"

namespace KvoAgent {

class CChangeSink {
public:
    virtual ~CChangeSink() = default;
    virtual void Deliver(CRealtimeNotification&& notification) = 0;
    virtual void Missed(long long count, const std::string& why) = 0;
};

}  // namespace KvoAgent
