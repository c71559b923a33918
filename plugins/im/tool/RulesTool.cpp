#include "plugins/im/tool/RulesTool.h"

#include <wx/filename.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/Dom.h"
#include "core/IntegrityKeyFile.h"
#include "core/Log.h"
#include "core/Version.h"
#include "plugins/im/tool/GlobCommand.h"
#include "plugins/im/tool/PlanCommand.h"
#include "plugins/im/tool/RulesCommand.h"
#include "plugins/im/tool/ScratchDatabase.h"
#include "plugins/im/tool/WhyCommand.h"
#include "plugins/im/StateKeys.h"
#include "core/StateKeys.h"

namespace KvoPluginIm {

using KvoCore::CDom;

void CRulesTool::PrintHelp() {
    printf(
        "usage: kvo-rules [--config FILE] [--workdir DIR] [--trace CATS] [--set KEY=VALUE]... COMMAND "
        "[ARGS]\n"
        "\n"
        "Tools for authors of integrity rules; they read rules exactly as the agent does.\n"
        "\n"
        "Global options (before COMMAND):\n"
        "  --config FILE      configuration file (default examples/default.xml of the source tree;\n"
        "                     installed: /etc/kvo/kvo-agent.xml)\n"
        "  --workdir DIR      work directory, created when missing (default ./kvo-work; installed:\n"
        "                     /var/lib/kvo)\n"
        "  --trace CATS       trace categories, comma separated, * for all (also KVO_TRACE)\n"
        "  --set KEY=VALUE    set an agent state key: true/false give a flag, an optional sign and\n"
        "                     digits a 64-bit integer, anything else a string; may be repeated\n"
        "                     (--set kvo.host.windows=true reads rules as on a Windows host)\n"
        "  --help             this text\n"
        "  --version          the tool's version\n"
        "\n"
        "Commands:\n"
        "  rules              read /SecurityConfiguration/IntegrityRules of the configuration, print\n"
        "                     each rule back as the agent understands it (attributes, sets and\n"
        "                     features it does not take are shown, with the value \"unknown\" or\n"
        "                     \"unsupported\" for attributes), then one line per rule: `rule ID \"NAME\":\n"
        "                     accepted` or the problems found, separated by \"; \". Before the\n"
        "                     summaries, the lint's findings, one per line: FILE:LINE: error|warning:\n"
        "                     rule ID \"NAME\", ELEMENT: what the rule does that was probably not meant\n"
        "                     (unknown elements, patterns that never match or do not compile, \"+\" or\n"
        "                     \"|\" in patterns, variables without env., sets of Excludes only; a\n"
        "                     missing search base is a warning). Errors make a rule not accepted.\n"
        "  rules --plan [--keep FILE]\n"
        "                     process the rules as the agent would, on a copy of the work directory's\n"
        "                     si.db (or an empty one): print what each rule stores, the rules retired,\n"
        "                     those needing a baseline and the agent events; --keep writes the result\n"
        "                     to FILE. The work directory's database is never written.\n"
        "  rules --why KEY... [--type TYPE]\n"
        "                     for each key (a path; with --type User, Group, Port, Process or\n"
        "                     InstalledSoftware a name), the rule and set a scan would record it in, or\n"
        "                     for each set of its type why not\n"
        "  glob [--base] [--windows] [--] PATTERN...\n"
        "                     print the regular expression stored for each glob, one per line:\n"
        "                     as an include/exclude pattern, or with --base as a base directory\n"
        "                     (it then matches everything below it too); --windows translates as\n"
        "                     on a Windows host; -- ends the options. glob reads no configuration.\n"
        "\n"
        "Exit status: 0 success, 1 (rules) some rule was not accepted whole, 64 usage error,\n"
        "65 configuration or rules that do not parse, 69 the database cannot be used, 70 internal error.\n");
}

int CRulesTool::UsageError(const std::string& message) {
    fprintf(stderr, "kvo-rules: %s (kvo-rules --help shows the usage)\n", message.c_str());
    return ExitUsage;
}

int CRulesTool::Main(int argc, char** argv) {
    int next = 1;
    const int status = m_options.ParseCommandLine(argc, argv, next, "kvo-rules", PrintHelp, UsageError);
    if (status >= 0) return status;
    if (next >= argc) return UsageError("no command given");
    m_command = argv[next++];
    for (; next < argc; ++next) m_arguments.emplace_back(argv[next]);
    if (m_command != "rules" && m_command != "glob") return UsageError("unknown command " + m_command);
    const int commandStatus = m_command == "rules" ? RunRules() : RunGlob();
    if (CDom::This() != nullptr) CDom::Destroy();
    return commandStatus;
}

int CRulesTool::StartAgent(bool readConfiguration) {
    KvoCore::LogSetTraceCategories(m_options.trace);
    wxString config;
    if (readConfiguration) {
        wxFileName absolute(m_options.config);
        absolute.MakeAbsolute();
        config = absolute.GetFullPath();
    }
    wxString error;
    if (!CDom::Create({m_options.workdir, config}, error)) {
        fprintf(stderr, "kvo-rules: %s\n", error.utf8_str().data());
        return ExitBadInput;
    }
    CDom& dom = *CDom::This();
    m_options.ApplySettings(dom);
    // A plan reads an encrypted si.db with the agent's own key.
    std::string keyError;
    if (readConfiguration && !KvoCore::CIntegrityKeyFile::Load(dom, wxFileName(config).GetPath(), keyError)) {
        fprintf(stderr, "kvo-rules: %s\n", keyError.c_str());
        return ExitBadInput;
    }
    return ExitOk;
}

int CRulesTool::RunRules() {
    // The tool's help is the rules command's: its options are most of it.
    if (m_arguments.size() == 1 && m_arguments[0] == "--help") {
        PrintHelp();
        return ExitOk;
    }
    CRulesCommand command;
    std::string error;
    if (!command.Parse(m_arguments, error)) return UsageError(error);
    if (command.GetMode() == CRulesCommand::Mode::Lint) {
        const int status = StartAgent(true);
        if (status != ExitOk) return status;
        return CRulesCommand::Run(*CDom::This(), m_options.config);
    }
    return RunOnScratchCopy(command);
}

int CRulesTool::RunOnScratchCopy(const CRulesCommand& command) {
    wxString source = m_options.workdir + wxT("/si.db");
    for (const auto& [key, value] : m_options.settings)
        if (key == Keys::kDbPath) source = wxString::FromUTF8(value.c_str());
    // The agent object lives in the scratch directory, so that the agent
    // events and the log of the processing never reach the real work directory.
    CScratchDatabase scratch;
    wxString error;
    if (!scratch.CreateDirectory(error)) return Fail(error, ExitInternal);
    m_options.workdir = scratch.GetDirectory();
    const int status = StartAgent(true);
    if (status != ExitOk) return status;
    CDom& dom = *CDom::This();
    dom.Set(Keys::kDbPath, std::string(scratch.GetDbPath().utf8_str()));
    if (!scratch.CopyFrom(source, error)) return Fail(error, ExitDatabase);
    CPlanCommand plan(dom);
    if (!plan.Run(error)) return Fail(error, ExitDatabase);
    if (command.GetMode() == CRulesCommand::Mode::Why) {
        CWhyCommand why(dom, wxString::FromUTF8(command.GetType().c_str()));
        if (!why.Run(command.GetKeys(), error)) return Fail(error, ExitUsage);
        return ExitOk;
    }
    plan.Print();
    if (!command.GetKeepFile().empty() &&
        !scratch.CopyTo(wxString::FromUTF8(command.GetKeepFile().c_str()), error))
        return Fail(error, ExitDatabase);
    return ExitOk;
}

int CRulesTool::Fail(const wxString& message, int status) {
    fprintf(stderr, "kvo-rules: %s\n", message.utf8_str().data());
    return status;
}

int CRulesTool::RunGlob() {
    CGlobCommand glob;
    std::string error;
    if (!glob.Parse(m_arguments, error)) return UsageError(error);
    if (glob.WantsHelp()) {
        PrintHelp();
        return ExitOk;
    }
    const int status = StartAgent(false);
    if (status != ExitOk) return status;
    if (glob.WantsWindows()) CDom::This()->Set(KvoCore::Keys::kHostWindows, true);
    return glob.Run(*CDom::This());
}

}  // namespace KvoPluginIm
