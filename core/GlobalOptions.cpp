#include "core/GlobalOptions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/Dom.h"
#include "core/Version.h"

namespace KvoCore {

int CGlobalOptions::ParseCommandLine(int argc, char** argv, int& next, const char* program, void (*printHelp)(),
                                     int (*usageError)(const std::string&)) {
    std::string error;
    switch (Parse(argc, argv, next, error)) {
        case Outcome::Help:
            printHelp();
            return 0;
        case Outcome::Version:
            printf("%s %s\n", program, kAgentVersion);
            return 0;
        case Outcome::UsageError:
            return usageError(error);
        case Outcome::Command:
            break;
    }
    return -1;
}

CGlobalOptions::Outcome CGlobalOptions::Parse(int argc, char** argv, int& next, std::string& error) {
    if (const char* env = getenv("KVO_TRACE")) trace = env;
    while (next < argc && strncmp(argv[next], "--", 2) == 0) {
        const std::string option = argv[next];
        if (option == "--help") return Outcome::Help;
        if (option == "--version") return Outcome::Version;
        if (option != "--config" && option != "--workdir" && option != "--trace" && option != "--set") {
            error = "unknown option " + option;
            return Outcome::UsageError;
        }
        if (next + 1 >= argc) {
            error = "option " + option + " needs a value";
            return Outcome::UsageError;
        }
        const std::string value = argv[next + 1];
        if (option == "--config") {
            config = wxString::FromUTF8(value.c_str());
        } else if (option == "--workdir") {
            workdir = wxString::FromUTF8(value.c_str());
        } else if (option == "--trace") {
            trace = value;
        } else {
            const size_t eq = value.find('=');
            if (eq == std::string::npos || eq == 0) {
                error = "--set wants KEY=VALUE, got '" + value + "'";
                return Outcome::UsageError;
            }
            settings.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        }
        next += 2;
    }
    return Outcome::Command;
}

void CGlobalOptions::ApplySettings(CDom& dom) const {
    for (const auto& setting : settings) dom.SetFromText(setting.first, setting.second);
}

}  // namespace KvoCore
