// CCommandHelp: the `--help` text of the commands that run the agent (`run`,
// `baseline`, `check`) and of `exec`; the query commands carry their own.
#pragma once

#include <string>

namespace KvoAgent {

class CCommandHelp {
public:
    // False when the command has no text here.
    static bool Print(const std::string& command);
};

}  // namespace KvoAgent
