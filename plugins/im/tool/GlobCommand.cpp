#include "plugins/im/tool/GlobCommand.h"

#include <cstdio>

#include "plugins/im/GlobTranslator.h"
#include "plugins/im/SystemIntegrityScannerThread.h"

namespace KvoPluginIm {

bool CGlobCommand::Parse(const std::vector<std::string>& arguments, std::string& error) {
    bool options = true;
    for (const std::string& argument : arguments) {
        if (options && argument.rfind("--", 0) == 0) {
            if (argument == "--") {
                options = false;
            } else if (argument == "--base") {
                m_base = true;
            } else if (argument == "--windows") {
                m_windows = true;
            } else if (argument == "--help") {
                m_help = true;
            } else {
                error = "unknown glob option " + argument;
                return false;
            }
            continue;
        }
        m_patterns.push_back(argument);
    }
    if (m_patterns.empty() && !m_help) {
        error = "glob needs at least one pattern";
        return false;
    }
    return true;
}

int CGlobCommand::Run(KvoCore::CDom& dom) const {
    const wxPathFormat hostFormat = CIntegrityScanThread::GetPathFormat(dom);
    const CGlobTranslator translator(hostFormat);
    // Patterns of includes and excludes are always cut at "/"; base
    // directories are written in the host's own path syntax.
    const wxPathFormat splitFormat = m_base ? hostFormat : wxPATH_UNIX;
    for (const std::string& pattern : m_patterns) {
        const wxString regEx =
            translator.Translate(wxString::FromUTF8(pattern.c_str()), splitFormat, m_base, true);
        printf("%s\n", regEx.utf8_str().data());
    }
    return 0;
}

}  // namespace KvoPluginIm
