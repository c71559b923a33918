// kvo-agent: the host program of the integrity-monitoring plug-in.
#include <wx/init.h>

#include "agent/AgentHost.h"

int main(int argc, char** argv) {
    wxInitializer init;
    if (!init.IsOk()) return 70;
    return KvoAgent::CAgentHost().Main(argc, argv);
}
