// CDirectoryIntegrityKeyMatch: the key matcher of path keys (directories, and
// through its subclass files), under the host's path format.
//
// Immutable after construction; safe to share between threads.
#pragma once

#include <wx/filename.h>
#include <wx/string.h>

#include "plugins/im/SystemIntegrityKeyMatch.h"

namespace KvoPluginIm {

class CDirectoryIntegrityKeyMatch : public CSystemIntegrityKeyMatch {
public:
    explicit CDirectoryIntegrityKeyMatch(wxPathFormat format);

    bool EntityKeysAreCaseSensitive() const override;
    // Files are found below directories.
    const wxChar* GetEntityLeafType() const override;
    wxString GetEntityKeySeparator() const override { return m_separator; }
    wxString GetEntityType() const override;
    // Whether key lies below the set's search base (and matches its base
    // expression when it has one); /etc does not cover /etcx.
    bool KeyPathMatchesSearchBase(const wxString& key, const CSqlEntitySet* set) const override;

    void SetPathFormat(wxPathFormat format);
    wxPathFormat GetPathFormat() const { return m_format; }

private:
    wxPathFormat m_format = wxPATH_NATIVE;
    wxString m_separator;
};

}  // namespace KvoPluginIm
