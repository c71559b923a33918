// A temporary directory for one test, removed with everything in it.
#pragma once

#include <stdlib.h>

#include <string>

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/kvo-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        m_path = made ? made : "";
    }
    ~TempDir() {
        if (!m_path.empty()) {
            std::string command = "rm -rf '" + m_path + "'";
            int ignored = system(command.c_str());
            (void)ignored;
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};
