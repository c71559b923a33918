#include "agent/WatchList.h"

#include <algorithm>

namespace KvoAgent {

std::string CWatchList::WithSlash(const std::string& dir) {
    return !dir.empty() && dir.back() == '/' ? dir : dir + "/";
}

std::string CWatchList::Parent(const std::string& dir) {
    if (dir.size() <= 1) return dir;
    return dir.substr(0, dir.rfind('/', dir.size() - 2) + 1);
}

CWatchList::CWatchList(const std::vector<std::string>& dirs, const std::vector<std::string>& extensions,
                       const std::string& workdir)
    : m_extensions(extensions.begin(), extensions.end()), m_workdir(WithSlash(workdir)) {
    std::vector<std::string> sorted;
    for (const auto& dir : dirs)
        if (!dir.empty() && dir[0] == '/') sorted.push_back(WithSlash(dir));
    std::sort(sorted.begin(), sorted.end());
    // A directory inside another adds nothing but a second watch.
    for (const auto& dir : sorted)
        if (m_dirs.empty() || !Below(dir, m_dirs.back())) m_dirs.push_back(dir);
    m_extensions.erase("");
}

bool CWatchList::Below(const std::string& path, const std::string& dir) { return path.compare(0, dir.size(), dir) == 0; }

std::vector<std::string> CWatchList::DirsWithin(const std::string& dir) const {
    std::vector<std::string> within;
    for (const auto& watched : m_dirs)
        if (Below(watched, dir)) within.push_back(watched);
    return within;
}

bool CWatchList::Covers(const std::string& path) const {
    if (Below(WithSlash(path), m_workdir)) return false;
    const std::string asDir = WithSlash(path);
    for (const auto& dir : m_dirs)
        if (Below(asDir, dir)) return true;
    if (m_extensions.empty() || path.back() == '/') return false;
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
           m_extensions.count(path.substr(dot + 1)) > 0;
}

}  // namespace KvoAgent
