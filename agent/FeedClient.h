// CFeedClient: the client half of `kvo-agent feed [FILE]`: reads the records
// from FILE (standard input when none, or "-") whole, then hands them to the
// agent that runs on the work directory, which checks and queues them
// (CFeedCommand). Used once, on the main thread, inside the work directory.
#pragma once

#include <string>
#include <vector>

#include <wx/string.h>

#include "core/Dom.h"

namespace KvoAgent {

class CFeedClient {
public:
    // The exit status; startDir is where a relative FILE is found.
    static int Run(KvoCore::CDom& dom, const wxString& startDir, const std::vector<std::string>& arguments);

private:
    static bool ReadAll(const std::string& path, std::string& text);
};

}  // namespace KvoAgent
