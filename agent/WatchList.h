// CWatchList: what the engine reports, from the on-change object's watch
// lists: paths at or below a watched directory, and files anywhere whose
// extension is listed (sets based at the root); never anything at or below
// the agent's work directory. Directories are held with a trailing "/".
// Immutable once built; copies are cheap enough for the rare reload.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace KvoAgent {

class CWatchList {
public:
    CWatchList() = default;
    CWatchList(const std::vector<std::string>& dirs, const std::vector<std::string>& extensions,
               const std::string& workdir);

    // path: a file, or a directory ending with "/".
    bool Covers(const std::string& path) const;
    // The watched directories, each with a trailing "/", none inside another.
    const std::vector<std::string>& Dirs() const { return m_dirs; }
    // The watched directories at or below dir (ending with "/").
    std::vector<std::string> DirsWithin(const std::string& dir) const;
    bool HasExtensions() const { return !m_extensions.empty(); }

    static std::string WithSlash(const std::string& dir);
    // The directory that holds dir (both with a trailing "/"); "/" for "/".
    static std::string Parent(const std::string& dir);

private:
    static bool Below(const std::string& path, const std::string& dir);

    std::vector<std::string> m_dirs;
    std::set<std::string> m_extensions;
    std::string m_workdir;
};

}  // namespace KvoAgent
