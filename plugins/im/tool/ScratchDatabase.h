// CScratchDatabase: a private work directory holding a copy of an integrity
// database, for trying rule processing without touching the real one.
//
// The copy is taken with SQLite's online backup through a read-only
// connection, so it is consistent even while an agent writes the original.
// The directory and everything in it are removed on destruction.
#pragma once

#include <wx/string.h>

namespace KvoPluginIm {

class CScratchDatabase {
public:
    CScratchDatabase() = default;
    ~CScratchDatabase();
    CScratchDatabase(const CScratchDatabase&) = delete;
    CScratchDatabase& operator=(const CScratchDatabase&) = delete;

    // Creates the directory; false, with the reason, when it cannot.
    bool CreateDirectory(wxString& error);
    // Copies source (when it exists; otherwise the copy starts empty) to
    // GetDbPath(). Needs the agent object.
    bool CopyFrom(const wxString& source, wxString& error) const;
    // Writes the database at GetDbPath() to target, replacing it.
    bool CopyTo(const wxString& target, wxString& error) const;

    const wxString& GetDirectory() const { return m_directory; }
    wxString GetDbPath() const { return m_directory + wxT("/si.db"); }

private:
    static bool Backup(const wxString& from, const wxString& to, wxString& error);

    wxString m_directory;
};

}  // namespace KvoPluginIm
