// CInstallLayout: where the agent's programs find their scripts, the plug-in,
// each other and their defaults. Run from a build tree they use the source
// tree beside it; installed (the Debian package) they use the system's places.
#pragma once

#include <string>

namespace KvoCore {

class CInstallLayout {
public:
    // True when the running program is the installed one (/usr/bin/kvo-agent,
    // /usr/lib/kvo/kvo-rules), not one of a build tree.
    static bool Installed();
    // examples/default.xml in a build tree, /etc/kvo/kvo-agent.xml installed.
    static std::string DefaultConfig();
    // ./kvo-work in a build tree, /var/lib/kvo installed.
    static std::string DefaultWorkdir();
    // The agent's Lua scripts: <build>/../agent/lua, or /usr/lib/kvo/lua.
    static std::string ScriptDirectory();
    // im.so and the libraries: <build>/lib, or /usr/lib/kvo.
    static std::string LibraryDirectory();
    // The running program's own path ("" when /proc does not tell).
    static std::string Executable();
    // The rule authors' tool: <build>/bin/kvo-rules, or /usr/lib/kvo/kvo-rules.
    static std::string RulesTool();

private:
    static std::string ExecutableDirectory();
    static std::string BuildTree();
};

}  // namespace KvoCore
