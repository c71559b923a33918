// ScopedAgent: an agent object for one scope, in a temporary work directory,
// with an optional configuration file; the platform the rule model sees
// follows its "kvo.host.windows" key. One agent per process at a time.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/Dom.h"
#include "tests/unit/TempDir.h"

namespace KvoTest {

class ScopedAgent {
public:
    explicit ScopedAgent(bool windows, const std::string& config = std::string()) {
        wxString error;
        m_created = KvoCore::CDom::Create({wxString(m_dir.file("work")), wxString(config)}, error);
        EXPECT_TRUE(m_created) << error;
        if (m_created) KvoCore::CDom::This()->Set("kvo.host.windows", windows);
    }
    ~ScopedAgent() {
        if (m_created) KvoCore::CDom::Destroy();
    }
    ScopedAgent(const ScopedAgent&) = delete;
    ScopedAgent& operator=(const ScopedAgent&) = delete;
    bool ok() const { return m_created; }

private:
    TempDir m_dir;
    bool m_created = false;
};

}  // namespace KvoTest
