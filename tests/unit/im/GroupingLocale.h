// GroupingLocale: selects, for its lifetime, a locale that groups thousands
// with "," (en_US). Test hosts install only C, C.UTF-8 and POSIX, which group
// nothing, so the locale is compiled once per process with localedef from the
// locale sources of the Debian package "locales" into a private directory
// that LOCPATH names.
#pragma once

#include <stdlib.h>

#include <string>

#include <wx/intl.h>

#include "tests/unit/TempDir.h"

namespace KvoTest {

class GroupingLocale {
public:
    GroupingLocale() {
        if (!Compiled()) return;
        m_ok = m_locale.Init(wxLANGUAGE_ENGLISH_US, wxLOCALE_DONT_LOAD_DEFAULT);
    }
    GroupingLocale(const GroupingLocale&) = delete;
    GroupingLocale& operator=(const GroupingLocale&) = delete;

    bool ok() const { return m_ok; }
    static const char* Requirement() { return "en_US compiled by localedef (Debian packages locales, libc-bin)"; }

private:
    static bool Compiled() {
        static TempDir dir;
        static const bool compiled = [] {
            const std::string command = "localedef -i en_US -f ISO-8859-1 '" + dir.file("en_US") + "' 2>/dev/null";
            if (system(command.c_str()) != 0) return false;
            setenv("LOCPATH", dir.path().c_str(), 1);
            return true;
        }();
        return compiled;
    }

    wxLocale m_locale;
    bool m_ok = false;
};

}  // namespace KvoTest
