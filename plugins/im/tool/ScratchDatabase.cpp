#include "plugins/im/tool/ScratchDatabase.h"

#include <wx/dir.h>
#include <wx/filename.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/Dom.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

CScratchDatabase::~CScratchDatabase() {
    if (!m_directory.empty()) wxFileName::Rmdir(m_directory, wxPATH_RMDIR_RECURSIVE);
}

bool CScratchDatabase::CreateDirectory(wxString& error) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/kvo-rules-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        error = wxString::Format("cannot create a scratch directory %s: %s", pattern, strerror(errno));
        return false;
    }
    m_directory = wxString::FromUTF8(pattern.c_str());
    return true;
}

bool CScratchDatabase::CopyFrom(const wxString& source, wxString& error) const {
    if (!wxFileName::FileExists(source)) return true;
    return Backup(source, GetDbPath(), error);
}

bool CScratchDatabase::CopyTo(const wxString& target, wxString& error) const {
    if (wxFileName::FileExists(target) && !wxRemoveFile(target)) {
        error = wxString::Format("cannot replace %s", target);
        return false;
    }
    return Backup(GetDbPath(), target, error);
}

bool CScratchDatabase::Backup(const wxString& from, const wxString& to, wxString& error) {
    KvoCore::CSqliteDatabase db(*KvoCore::CDom::This(), Keys::kTraceImThread);
    if (!db.OpenIntegrityDb(from, KvoCore::DbAccess::ReadOnly)) {
        error = wxString::Format("cannot open the integrity database %s", from);
        return false;
    }
    try {
        db.CopyTo(to);
    } catch (const wxSQLite3Exception& e) {
        error = wxString::Format("cannot copy %s to %s: %s", from, to, e.GetMessage());
        db.Close();
        return false;
    }
    db.Close();
    return true;
}

}  // namespace KvoPluginIm
