#include "core/InstallLayout.h"

#include <limits.h>
#include <unistd.h>

// Set by the build from the install prefix (GNUInstallDirs).
#ifndef KVO_INSTALL_BINDIR
#define KVO_INSTALL_BINDIR "/usr/local/bin"
#endif
#ifndef KVO_INSTALL_PKGLIBDIR
#define KVO_INSTALL_PKGLIBDIR "/usr/local/lib/kvo"
#endif
#ifndef KVO_INSTALL_CONFIG
#define KVO_INSTALL_CONFIG "/usr/local/etc/kvo/kvo-agent.xml"
#endif
#ifndef KVO_INSTALL_WORKDIR
#define KVO_INSTALL_WORKDIR "/usr/local/var/lib/kvo"
#endif

namespace KvoCore {

namespace {

std::string Parent(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string CInstallLayout::Executable() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    return n <= 0 ? std::string() : std::string(exe, static_cast<size_t>(n));
}

std::string CInstallLayout::ExecutableDirectory() {
    const std::string exe = Executable();
    return exe.empty() ? "." : Parent(exe);
}

// Decided by where the program itself lies: a build tree's copy keeps using
// the build tree even when a package is installed on the same host.
bool CInstallLayout::Installed() {
    const std::string dir = ExecutableDirectory();
    return dir == KVO_INSTALL_BINDIR || dir == KVO_INSTALL_PKGLIBDIR;
}

std::string CInstallLayout::DefaultConfig() { return Installed() ? KVO_INSTALL_CONFIG : "examples/default.xml"; }

std::string CInstallLayout::DefaultWorkdir() { return Installed() ? KVO_INSTALL_WORKDIR : "./kvo-work"; }

// <build>/bin holds the programs; the source tree holds the build directory.
std::string CInstallLayout::BuildTree() { return Parent(ExecutableDirectory()); }

std::string CInstallLayout::ScriptDirectory() {
    if (Installed()) return KVO_INSTALL_PKGLIBDIR "/lua";
    return Parent(BuildTree()) + "/agent/lua";
}

std::string CInstallLayout::LibraryDirectory() {
    return Installed() ? KVO_INSTALL_PKGLIBDIR : BuildTree() + "/lib";
}

std::string CInstallLayout::RulesTool() {
    return (Installed() ? std::string(KVO_INSTALL_PKGLIBDIR) : ExecutableDirectory()) + "/kvo-rules";
}

}  // namespace KvoCore
