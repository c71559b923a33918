// CRulesCommand: `kvo-rules rules`: reads the configured rules as the plug-in
// reads them, prints each back (so what was not taken shows) and sums up each
// rule's problems in one line.
#pragma once

#include "core/Dom.h"

namespace KvoPluginIm {

class CRulesCommand {
public:
    // Exit status: 0 every rule accepted whole, 1 otherwise, 65 when the
    // rules element cannot be read.
    static int Run(KvoCore::CDom& dom, const wxString& configPath);

    static const char* const s_RulesPath;  // "/SecurityConfiguration/IntegrityRules"
};

}  // namespace KvoPluginIm
