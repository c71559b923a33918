// Fixture of the control-thread tests: the process's agent object, working in
// a private temporary directory, with a configuration file the test rewrites.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/Dom.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "tests/unit/TempDir.h"

namespace KvoTest {

class ControlThreadFixture : public ::testing::Test {
protected:
    void SetUp() override {
        WriteConfig("");
        wxString error;
        ASSERT_TRUE(KvoCore::CDom::Create({Path("work"), Path("config.xml")}, error)) << error;
        m_dom = KvoCore::CDom::This();
    }
    void TearDown() override {
        if (m_dom != nullptr) KvoCore::CDom::Destroy();
    }

    wxString Path(const std::string& name) const { return wxString::FromUTF8(m_dir.file(name)); }

    // A configuration whose AgentConfiguration element carries these attributes (XML text).
    void WriteConfig(const std::string& agentAttributes) {
        std::ofstream out(m_dir.file("config.xml"));
        out << "<SecurityConfiguration><AgentConfiguration " << agentAttributes
            << "/><IntegrityRules/></SecurityConfiguration>\n";
    }
    void ReloadConfig(const std::string& agentAttributes) {
        WriteConfig(agentAttributes);
        wxString error;
        ASSERT_TRUE(m_dom->ConfigReload(error)) << error;
    }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string LogText() const { return ReadFile(m_dir.file("work/kvo-agent.log")); }
    std::string AgentEvents() const { return ReadFile(m_dir.file("work/agent-events.log")); }
    // The agent events written so far, as "id|text" lines; those of one id.
    std::vector<std::string> Events() const {
        std::vector<std::string> lines;
        std::istringstream in(AgentEvents());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::vector<std::string> EventsWithId(int id) const {
        std::vector<std::string> selected;
        const std::string prefix = std::to_string(id) + "|";
        for (const std::string& line : Events())
            if (line.rfind(prefix, 0) == 0) selected.push_back(line);
        return selected;
    }

    TempDir m_dir;
    KvoCore::CDom* m_dom = nullptr;
};

// The same, with a control-thread object made after the agent and gone before it.
class ControlObjectFixture : public ControlThreadFixture {
protected:
    void SetUp() override {
        ControlThreadFixture::SetUp();
        if (HasFatalFailure()) return;
        m_thread = std::make_unique<KvoPluginIm::CSystemIntegrityThread>();
    }
    void TearDown() override {
        m_thread.reset();
        ControlThreadFixture::TearDown();
    }

    std::unique_ptr<KvoPluginIm::CSystemIntegrityThread> m_thread;
};

}  // namespace KvoTest
