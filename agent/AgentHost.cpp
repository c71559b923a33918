#include "agent/AgentHost.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <wx/filename.h>

#include "core/Dom.h"
#include "core/Log.h"
#include "core/SqliteDatabase.h"

namespace KvoAgent {

using KvoCore::CDom;

void CAgentHost::PrintUsage() {
    fprintf(stderr,
            "usage: kvo-agent [--config FILE] [--workdir DIR] [--trace CATS] [--set KEY=VALUE]... COMMAND [ARGS]\n"
            "commands:\n"
            "  run        start the agent on the configuration\n");
}

int CAgentHost::Main(int argc, char** argv) {
    int next = 1;
    int status = ParseGlobalOptions(argc, argv, next);
    if (status != ExitOk) return status;
    if (next >= argc) {
        fprintf(stderr, "kvo-agent: no command given\n");
        PrintUsage();
        return ExitUsage;
    }
    m_command = argv[next++];
    for (; next < argc; ++next) m_arguments.emplace_back(argv[next]);
    status = StartAgent();
    if (status != ExitOk) return status;
    status = RunCommand();
    CDom::Destroy();
    return status;
}

int CAgentHost::ParseGlobalOptions(int argc, char** argv, int& next) {
    m_config = "examples/default.xml";
    m_workdir = "./kvo-work";
    if (const char* env = getenv("KVO_TRACE")) m_trace = env;
    while (next < argc && strncmp(argv[next], "--", 2) == 0) {
        std::string option = argv[next];
        if (option == "--help") {
            PrintUsage();
            exit(ExitOk);
        }
        if (next + 1 >= argc) {
            fprintf(stderr, "kvo-agent: option %s needs a value\n", option.c_str());
            return ExitUsage;
        }
        std::string value = argv[next + 1];
        if (option == "--config") m_config = wxString::FromUTF8(value.c_str());
        else if (option == "--workdir") m_workdir = wxString::FromUTF8(value.c_str());
        else if (option == "--trace") m_trace = value;
        else if (option == "--set") {
            size_t eq = value.find('=');
            if (eq == std::string::npos || eq == 0) {
                fprintf(stderr, "kvo-agent: --set wants KEY=VALUE, got '%s'\n", value.c_str());
                return ExitUsage;
            }
            m_settings.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else {
            fprintf(stderr, "kvo-agent: unknown option %s\n", option.c_str());
            PrintUsage();
            return ExitUsage;
        }
        next += 2;
    }
    return ExitOk;
}

int CAgentHost::StartAgent() {
    KvoCore::LogSetTraceCategories(m_trace);
    wxFileName config(m_config);
    config.MakeAbsolute();
    wxString error;
    if (!CDom::Create({m_workdir, config.GetFullPath()}, error)) {
        fprintf(stderr, "kvo-agent: %s\n", static_cast<const char*>(error.utf8_str()));
        return ExitBadInput;
    }
    CDom& dom = *CDom::This();
    if (chdir(dom.GetWorkdirWx().fn_str()) != 0) {
        fprintf(stderr, "kvo-agent: cannot enter work directory: %s\n", strerror(errno));
        return ExitInternal;
    }
    dom.Set("zel.im.dbPath", std::string((dom.GetWorkdirWx() + "/si.db").utf8_str()));
    dom.Set("zel.im.featureOn", true);
    dom.Set("zel.im.realtimeMode", false);
    for (const auto& setting : m_settings) dom.SetFromText(setting.first, setting.second);
    return ExitOk;
}

int CAgentHost::RunCommand() {
    CDom& dom = *CDom::This();
    if (m_command == "run") {
        // The plug-in is not loaded yet: the agent only proves that its
        // configuration and database are usable.
        KvoCore::CSqliteDatabase db(dom, "kvo.agent");
        if (!db.Open(dom.GetWxString("zel.im.dbPath"), 1, "WAL", true, false)) return ExitDatabase;
        db.Close();
        printf("kvo-agent: configuration and database %s are ready; the integrity plug-in is not built yet, "
               "so there is nothing to run\n",
               static_cast<const char*>(dom.GetWxString("zel.im.dbPath").utf8_str()));
        return ExitOk;
    }
    fprintf(stderr, "kvo-agent: unknown command %s\n", m_command.c_str());
    PrintUsage();
    return ExitUsage;
}

}  // namespace KvoAgent
