// The agent's version, shown by kvo-agent --version and in the CEF header.
// The build takes it from debian/changelog.
#pragma once

namespace KvoCore {

constexpr const char* kAgentVersion = KVO_VERSION;

}  // namespace KvoCore
