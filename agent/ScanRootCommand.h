// CScanRootCommand: `kvo-agent scan-root DIR`, an external scanner for a file
// tree mounted at DIR (a disk or container image, a guest's disk seen from
// its host). It records a baseline of the configured file sets re-rooted under
// DIR with the plug-in's own file scanner (walk, matching and digests), in an
// agent of its own on a scratch work directory, and prints its file entities
// as `kvo-agent feed` takes them: keys as seen inside the image, entity sets
// numbered as in this work directory's integrity database. Used once, on the
// main thread, inside the work directory.
#pragma once

#include <map>
#include <string>

#include <wx/string.h>

#include "core/Dom.h"
#include "core/SqliteDatabase.h"

namespace KvoAgent {

class CScanRootCommand {
public:
    // root: DIR as given; configPath: the configuration in force (absolute).
    CScanRootCommand(KvoCore::CDom& dom, const wxString& startDir, const std::string& root, wxString configPath);
    // The exit status.
    int Run();

private:
    // A copy of the configuration that watches only the file sets, below the root.
    bool WriteRerootedConfiguration(const wxString& path, wxString& error) const;
    // kvo-agent baseline on the scratch directory; its exit status.
    int RecordScratchBaseline(const wxString& config) const;
    // Scratch entity set -> the same set in this work directory's database;
    // false with the reason when the two sets of file sets differ.
    bool MapEntitySets(KvoCore::CSqliteDatabase& scratch, KvoCore::CSqliteDatabase& own,
                       std::map<long long, long long>& setIds, wxString& error) const;
    int PrintRecords(const wxString& scratchDb);

    KvoCore::CDom& m_dom;
    wxString m_root;  // absolute, without a trailing separator
    wxString m_configPath;
    wxString m_scratch;
};

}  // namespace KvoAgent
