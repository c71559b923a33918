// kvo-agent: the host program of the integrity-monitoring plug-in.
#include <malloc.h>
#include <wx/init.h>

#include "agent/AgentHost.h"

int main(int argc, char** argv) {
    // One heap for every thread: with one per thread, each kept the high
    // mark of its own busiest moment, 4 to 6 MB more at the peak of a check,
    // and the threads seldom allocate at once.
    mallopt(M_ARENA_MAX, 1);
    wxInitializer init;
    if (!init.IsOk()) return 70;
    return KvoAgent::CAgentHost().Main(argc, argv);
}
