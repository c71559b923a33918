// CCipherVfs: an SQLite VFS that wraps the default one and keeps database
// files, their rollback journals and their write-ahead logs encrypted with a
// CPageCipher. SQLite sees plain pages; the disk holds only cipher text (the
// -shm index holds page numbers and checksums, no content). Temporary files
// (sorts, temporary tables) are encrypted with a CStreamCipher of their own.
//
// A connection selects it with the URI that Uri() builds, which names a
// cipher registered here by number; the key itself never enters a file name
// or SQL text. A database file that the key does not open fails at open with
// SQLITE_NOTADB, before SQLite looks at a hot journal or a write-ahead log, so
// a wrong key never rolls anything back or checkpoints anything. Memory-mapped
// I/O is refused (it would expose cipher text). Thread-safe.
#pragma once

#include <memory>
#include <string>

#include <wx/string.h>

namespace KvoCore {

class CPageCipher;

class CCipherVfs {
public:
    // Makes the cipher available to Uri() until Unregister(id). Open files
    // keep their own reference, so unregistering while a file is open is safe.
    static unsigned Register(std::shared_ptr<const CPageCipher> cipher, bool wholeFirstPage);
    static void Unregister(unsigned id);
    // "file:" URI that opens path through the VFS with cipher id.
    static wxString Uri(const wxString& path, unsigned id);
};

}  // namespace KvoCore
