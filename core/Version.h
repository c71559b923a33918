// The agent's version, shown by kvo-agent --version and in the CEF header.
#pragma once

namespace KvoCore {

constexpr const char* kAgentVersion = "0.1.0";

}  // namespace KvoCore
