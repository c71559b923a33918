// CRulesCommand: `kvo-rules rules [--plan [--keep FILE] | --why KEY... [--type TYPE]]`.
// Without options it reads the configured rules as the plug-in reads them,
// prints each back (so what was not taken shows), the lint's findings with
// their lines, and sums up each rule's problems in one line. --plan and --why
// run on a scratch copy of the integrity database (see CPlanCommand and
// CWhyCommand); the tool sets that up.
#pragma once

#include <string>
#include <vector>

#include "core/Dom.h"

namespace KvoPluginIm {

class CRulesCommand {
public:
    enum class Mode { Lint, Plan, Why };

    // Takes the command's own arguments; false, with the reason, on a usage error.
    bool Parse(const std::vector<std::string>& arguments, std::string& error);
    Mode GetMode() const { return m_mode; }
    const std::string& GetKeepFile() const { return m_keep; }
    const std::string& GetType() const { return m_type; }
    const std::vector<std::string>& GetKeys() const { return m_keys; }

    // The lint. Exit status: 0 every rule accepted whole, 1 otherwise, 65
    // when the rules element cannot be read.
    static int Run(KvoCore::CDom& dom, const wxString& configPath);

    static const char* const s_RulesPath;  // "/SecurityConfiguration/IntegrityRules"

private:
    Mode m_mode = Mode::Lint;
    std::string m_keep;
    std::string m_type;
    std::vector<std::string> m_keys;
};

}  // namespace KvoPluginIm
