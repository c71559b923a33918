// CCommandStreams: where a command writes for the person who gave it, and
// whether it is carried out inside a running agent. Run on its own, a command
// writes to the process's stdout and stderr and may start and stop the agent
// of this process; inside `kvo-agent run` it writes to a client's connection
// and must leave the running agent as it found it (its log level, its threads).
#pragma once

#include <cstdio>

namespace KvoAgent {

struct CCommandStreams {
    FILE* out = stdout;
    FILE* err = stderr;
    bool inAgent = false;
};

}  // namespace KvoAgent
