// CGlobCommand: `kvo-rules glob [--base] [--windows] [--] PATTERN...`: prints
// the regular expression the plug-in stores for each glob, one per line,
// either as an include/exclude pattern or (--base) as a base directory, for
// this host or (--windows) for a Windows host.
#pragma once

#include <string>
#include <vector>

#include "core/Dom.h"

namespace KvoPluginIm {

class CGlobCommand {
public:
    // Takes the command's own arguments; false, with the reason, on a usage error.
    bool Parse(const std::vector<std::string>& arguments, std::string& error);
    bool WantsHelp() const { return m_help; }
    bool WantsWindows() const { return m_windows; }
    // Prints the expressions for the host the agent protects; exit status 0.
    int Run(KvoCore::CDom& dom) const;

private:
    bool m_base = false;
    bool m_windows = false;
    bool m_help = false;
    std::vector<std::string> m_patterns;
};

}  // namespace KvoPluginIm
