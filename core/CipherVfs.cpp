#include "core/CipherVfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

#include "core/PageCipher.h"
#include "core/StreamCipher.h"

namespace KvoCore {

namespace {

const char kVfsName[] = "kvo-cipher";
const char kCipherParameter[] = "kvo-cipher";
const int kWalHeaderSize = 32;
const int kWalFrameHeaderSize = 24;

enum class FileKind { Plain, Database, Journal, Wal, Temporary };

const int kTemporaryFiles =
    SQLITE_OPEN_TEMP_DB | SQLITE_OPEN_TEMP_JOURNAL | SQLITE_OPEN_TRANSIENT_DB | SQLITE_OPEN_SUBJOURNAL;

struct CipherEntry {
    std::shared_ptr<const CPageCipher> cipher;
    bool wholeFirstPage;
};

// One open file. SQLite allocates szOsFile bytes for it; the wrapped file of
// the default VFS follows this object in the same block.
struct CipherFile {
    sqlite3_file base;
    FileKind kind = FileKind::Plain;
    CipherEntry entry;
    // Database: from page 1; log: from its header; journal: its database's.
    int pageSize = 0;
    CipherFile* database = nullptr;  // of a journal
    const char* name = nullptr;      // of a database, as SQLite passed it
    std::unique_ptr<CStreamCipher> stream;  // of a temporary file
    // A journal or log writes a page's number just before the page: kept here
    // to save reading it back.
    sqlite3_int64 numberedOffset = -1;
    uint32_t numberedPage = 0;

    static size_t Size() { return (sizeof(CipherFile) + 7) & ~size_t(7); }
    sqlite3_file* Real() { return reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(this) + Size()); }
};

std::mutex g_mutex;
std::map<unsigned, CipherEntry> g_ciphers;
unsigned g_nextId = 1;
// Open database files by the name pointer SQLite gave them, which is also
// what sqlite3_filename_database() gives for their journal and log.
std::map<const char*, CipherFile*> g_databases;

CipherFile* Self(sqlite3_file* file) { return reinterpret_cast<CipherFile*>(file); }

// Scratch for cipher text on its way to disk: SQLite's page buffers stay untouched.
std::vector<unsigned char>& Scratch(size_t size) {
    thread_local std::vector<unsigned char> buffer;
    if (buffer.size() < size) buffer.resize(size);
    return buffer;
}

uint32_t BigEndian32(const unsigned char* bytes) {
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
}

int RealRead(CipherFile* f, void* buffer, int amount, sqlite3_int64 offset) {
    return f->Real()->pMethods->xRead(f->Real(), buffer, amount, offset);
}

int RealWrite(CipherFile* f, const void* buffer, int amount, sqlite3_int64 offset) {
    return f->Real()->pMethods->xWrite(f->Real(), buffer, amount, offset);
}

// The page number stored in the 4 bytes at offset.
bool PageNumberAt(CipherFile* f, sqlite3_int64 offset, uint32_t& page) {
    unsigned char bytes[4];
    if (RealRead(f, bytes, 4, offset) != SQLITE_OK) return false;
    page = BigEndian32(bytes);
    return page != 0;
}

int DecryptPages(CipherFile* f, unsigned char* data, int count, uint32_t firstPage) {
    for (int i = 0; i < count; ++i)
        if (!f->entry.cipher->Decrypt(firstPage + i, data + size_t(i) * f->pageSize, f->pageSize))
            return SQLITE_NOTADB;
    return SQLITE_OK;
}

int EncryptAndWrite(CipherFile* f, const void* data, int amount, sqlite3_int64 offset, uint32_t firstPage) {
    std::vector<unsigned char>& scratch = Scratch(amount);
    std::memcpy(scratch.data(), data, amount);
    for (int i = 0; i * f->pageSize < amount; ++i)
        f->entry.cipher->Encrypt(firstPage + i, scratch.data() + size_t(i) * f->pageSize, f->pageSize,
                                 f->entry.wholeFirstPage);
    return RealWrite(f, scratch.data(), amount, offset);
}

// Page size and page 1's form from the file's first bytes. SQLITE_OK with
// pageSize still 0 for a file too short to tell (new); SQLITE_NOTADB when the
// key does not open it.
int ProbeDatabase(CipherFile* f) {
    unsigned char head[32];
    const int rc = RealRead(f, head, sizeof head, 0);
    if (rc == SQLITE_IOERR_SHORT_READ) return SQLITE_OK;
    if (rc != SQLITE_OK) return rc;
    bool whole = false;
    int pageSize = 0;
    if (!f->entry.cipher->Probe(head, whole, pageSize)) return SQLITE_NOTADB;
    f->entry.wholeFirstPage = whole;
    f->pageSize = pageSize;
    return SQLITE_OK;
}

int DatabaseRead(CipherFile* f, void* buffer, int amount, sqlite3_int64 offset) {
    if (f->pageSize == 0) {
        const int rc = ProbeDatabase(f);
        if (rc != SQLITE_OK) return rc;
        if (f->pageSize == 0) return RealRead(f, buffer, amount, offset);
    }
    const int pageSize = f->pageSize;
    const sqlite3_int64 first = offset / pageSize;
    const sqlite3_int64 end = (offset + amount + pageSize - 1) / pageSize;
    const bool aligned = offset % pageSize == 0 && amount % pageSize == 0;
    const int span = int((end - first) * pageSize);
    unsigned char* pages = aligned ? static_cast<unsigned char*>(buffer) : Scratch(span).data();
    int rc = RealRead(f, pages, span, first * pageSize);
    int whole = int(end - first);
    if (rc == SQLITE_IOERR_SHORT_READ) {
        // Pages past the end read as zeros, as SQLite expects of them.
        sqlite3_int64 size = 0;
        if (f->Real()->pMethods->xFileSize(f->Real(), &size) != SQLITE_OK) return SQLITE_IOERR_READ;
        const sqlite3_int64 present = size / pageSize - first;
        whole = int(present < 0 ? 0 : present < whole ? present : whole);
        std::memset(pages + size_t(whole) * pageSize, 0, span - size_t(whole) * pageSize);
    } else if (rc != SQLITE_OK) {
        return rc;
    }
    const int decrypted = DecryptPages(f, pages, whole, uint32_t(first + 1));
    if (decrypted != SQLITE_OK) return decrypted;
    if (!aligned) std::memcpy(buffer, pages + (offset - first * pageSize), amount);
    return rc;
}

int DatabaseWrite(CipherFile* f, const void* data, int amount, sqlite3_int64 offset) {
    // Page 1 carries the page size; a VACUUM may change it.
    if (offset == 0 && amount >= 32) {
        const int fromHeader = CPageCipher::PageSizeField(static_cast<const unsigned char*>(data) + 16);
        if (fromHeader != 0) f->pageSize = fromHeader;
    }
    const int pageSize = f->pageSize;
    if (pageSize == 0 || offset % pageSize != 0 || amount % pageSize != 0) return SQLITE_IOERR_WRITE;
    return EncryptAndWrite(f, data, amount, offset, uint32_t(offset / pageSize + 1));
}

// Rollback journal: a sector-aligned header, then records of page number (4
// bytes), page and checksum (4 bytes), so a page always starts 4 bytes past a
// multiple of 8 and header writes never do.
// A page read takes its number from the disk: another connection may have
// written the journal since this one remembered a number.
bool IsJournalPage(CipherFile* f, int amount, sqlite3_int64 offset, bool writing, uint32_t& page) {
    const int pageSize = f->database ? f->database->pageSize : 0;
    if (pageSize == 0 || amount != pageSize || offset < 4 || offset % 8 != 4) return false;
    f->pageSize = pageSize;
    if (writing && offset == f->numberedOffset) {
        page = f->numberedPage;
        return page != 0;
    }
    return PageNumberAt(f, offset - 4, page);
}

void RememberNumber(CipherFile* f, const void* data, sqlite3_int64 at) {
    f->numberedOffset = at;
    f->numberedPage = BigEndian32(static_cast<const unsigned char*>(data));
}

int WalPageSize(CipherFile* f) {
    if (f->pageSize == 0) {
        unsigned char header[kWalHeaderSize];
        if (RealRead(f, header, sizeof header, 0) == SQLITE_OK) f->pageSize = int(BigEndian32(header + 8));
    }
    return f->pageSize;
}

// Write-ahead log: a 32-byte header, then frames of a 24-byte header (page
// number first) and a page. Whole frames are read during recovery, pages alone otherwise.
enum class WalPart { Other, Frame, Page };

WalPart WalPartAt(CipherFile* f, int amount, sqlite3_int64 offset) {
    if (offset < kWalHeaderSize) return WalPart::Other;
    const int pageSize = WalPageSize(f);
    if (pageSize <= 0) return WalPart::Other;
    const sqlite3_int64 within = (offset - kWalHeaderSize) % (pageSize + kWalFrameHeaderSize);
    if (within == 0 && amount == pageSize + kWalFrameHeaderSize) return WalPart::Frame;
    if (within == kWalFrameHeaderSize && amount == pageSize) return WalPart::Page;
    return WalPart::Other;
}

int TemporaryRead(CipherFile* f, unsigned char* bytes, int amount, sqlite3_int64 offset) {
    const int rc = RealRead(f, bytes, amount, offset);
    int present = amount;
    if (rc == SQLITE_IOERR_SHORT_READ) {
        // What lies past the end reads as zeros, and must stay so.
        sqlite3_int64 size = 0;
        if (f->Real()->pMethods->xFileSize(f->Real(), &size) != SQLITE_OK) return SQLITE_IOERR_READ;
        present = size <= offset ? 0 : int(std::min<sqlite3_int64>(size - offset, amount));
    } else if (rc != SQLITE_OK) {
        return rc;
    }
    f->stream->Apply(uint64_t(offset), bytes, size_t(present));
    return rc;
}

int CipherRead(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    CipherFile* f = Self(file);
    uint32_t page = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    switch (f->kind) {
        case FileKind::Plain: break;
        case FileKind::Temporary: return TemporaryRead(f, bytes, amount, offset);
        case FileKind::Database: return DatabaseRead(f, buffer, amount, offset);
        case FileKind::Journal:
            if (!IsJournalPage(f, amount, offset, false, page)) break;
            if (int rc = RealRead(f, buffer, amount, offset); rc != SQLITE_OK) return rc;
            return f->entry.cipher->Decrypt(page, bytes, amount) ? SQLITE_OK : SQLITE_NOTADB;
        case FileKind::Wal: {
            const WalPart part = WalPartAt(f, amount, offset);
            if (part == WalPart::Other) break;
            // A page alone is read with its frame header, which holds its number.
            const int header = part == WalPart::Page ? kWalFrameHeaderSize : 0;
            unsigned char* frame = header ? Scratch(amount + header).data() : bytes;
            if (int rc = RealRead(f, frame, amount + header, offset - header); rc != SQLITE_OK) return rc;
            page = BigEndian32(frame);
            // A frame whose page does not decrypt fails its checksum: the end of the log.
            if (page != 0) f->entry.cipher->Decrypt(page, frame + kWalFrameHeaderSize, f->pageSize);
            if (header) std::memcpy(bytes, frame + header, amount);
            return SQLITE_OK;
        }
    }
    return RealRead(f, buffer, amount, offset);
}

int CipherWrite(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    CipherFile* f = Self(file);
    uint32_t page = 0;
    switch (f->kind) {
        case FileKind::Plain: break;
        case FileKind::Temporary: {
            std::vector<unsigned char>& scratch = Scratch(amount);
            std::memcpy(scratch.data(), data, amount);
            f->stream->Apply(uint64_t(offset), scratch.data(), size_t(amount));
            return RealWrite(f, scratch.data(), amount, offset);
        }
        case FileKind::Database: return DatabaseWrite(f, data, amount, offset);
        case FileKind::Journal:
            if (amount == 4) RememberNumber(f, data, offset + 4);
            if (IsJournalPage(f, amount, offset, true, page)) return EncryptAndWrite(f, data, amount, offset, page);
            break;
        case FileKind::Wal: {
            if (offset == 0 && amount >= kWalHeaderSize)
                f->pageSize = int(BigEndian32(static_cast<const unsigned char*>(data) + 8));
            if (amount == kWalFrameHeaderSize) RememberNumber(f, data, offset + kWalFrameHeaderSize);
            const WalPart part = WalPartAt(f, amount, offset);
            if (part == WalPart::Page) {
                page = offset == f->numberedOffset ? f->numberedPage : 0;
                if (page != 0 || PageNumberAt(f, offset - kWalFrameHeaderSize, page))
                    return EncryptAndWrite(f, data, amount, offset, page);
            }
            if (part == WalPart::Frame) {
                std::vector<unsigned char>& scratch = Scratch(amount);
                std::memcpy(scratch.data(), data, amount);
                f->entry.cipher->Encrypt(BigEndian32(scratch.data()), scratch.data() + kWalFrameHeaderSize,
                                         f->pageSize, f->entry.wholeFirstPage);
                return RealWrite(f, scratch.data(), amount, offset);
            }
            break;
        }
    }
    return RealWrite(f, data, amount, offset);
}

int CipherClose(sqlite3_file* file) {
    CipherFile* f = Self(file);
    if (f->kind == FileKind::Database) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_databases.erase(f->name);
    }
    const int rc = f->Real()->pMethods ? f->Real()->pMethods->xClose(f->Real()) : SQLITE_OK;
    f->~CipherFile();
    return rc;
}

#define FORWARD(method, ...) Self(file)->Real()->pMethods->method(Self(file)->Real(), ##__VA_ARGS__)

int CipherTruncate(sqlite3_file* file, sqlite3_int64 size) { return FORWARD(xTruncate, size); }
int CipherSync(sqlite3_file* file, int flags) { return FORWARD(xSync, flags); }
int CipherFileSize(sqlite3_file* file, sqlite3_int64* size) { return FORWARD(xFileSize, size); }
int CipherLock(sqlite3_file* file, int level) { return FORWARD(xLock, level); }
int CipherUnlock(sqlite3_file* file, int level) { return FORWARD(xUnlock, level); }
int CipherCheckReservedLock(sqlite3_file* file, int* out) { return FORWARD(xCheckReservedLock, out); }
int CipherFileControl(sqlite3_file* file, int op, void* arg) { return FORWARD(xFileControl, op, arg); }
int CipherSectorSize(sqlite3_file* file) { return FORWARD(xSectorSize); }
int CipherDeviceCharacteristics(sqlite3_file* file) { return FORWARD(xDeviceCharacteristics); }
int CipherShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
    return FORWARD(xShmMap, region, size, extend, out);
}
int CipherShmLock(sqlite3_file* file, int offset, int n, int flags) { return FORWARD(xShmLock, offset, n, flags); }
void CipherShmBarrier(sqlite3_file* file) { FORWARD(xShmBarrier); }
int CipherShmUnmap(sqlite3_file* file, int deleteFlag) { return FORWARD(xShmUnmap, deleteFlag); }
// No memory-mapped pages: they would be cipher text. SQLite reads instead.
int CipherFetch(sqlite3_file*, sqlite3_int64, int, void** out) {
    *out = nullptr;
    return SQLITE_OK;
}
int CipherUnfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

#undef FORWARD

const sqlite3_io_methods kMethods = {
    3,           CipherClose,        CipherRead,       CipherWrite,      CipherTruncate,
    CipherSync,  CipherFileSize,     CipherLock,       CipherUnlock,     CipherCheckReservedLock,
    CipherFileControl, CipherSectorSize, CipherDeviceCharacteristics, CipherShmMap, CipherShmLock,
    CipherShmBarrier, CipherShmUnmap, CipherFetch,     CipherUnfetch,
};

sqlite3_vfs* BaseVfs(sqlite3_vfs* vfs) { return static_cast<sqlite3_vfs*>(vfs->pAppData); }

// Which cipher a file gets: a database by the URI's number, a journal or log
// by its database's connection.
int Classify(const char* name, int flags, CipherFile* f) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (flags & SQLITE_OPEN_MAIN_DB) {
        const char* id = name ? sqlite3_uri_parameter(name, kCipherParameter) : nullptr;
        if (!id) return SQLITE_OK;
        const auto found = g_ciphers.find(unsigned(std::strtoul(id, nullptr, 10)));
        if (found == g_ciphers.end()) return SQLITE_CANTOPEN;
        f->kind = FileKind::Database;
        f->entry = found->second;
        f->name = name;
    } else if (name && (flags & (SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_WAL))) {
        const auto found = g_databases.find(sqlite3_filename_database(name));
        if (found == g_databases.end() || !found->second->entry.cipher) return SQLITE_OK;
        f->kind = (flags & SQLITE_OPEN_WAL) ? FileKind::Wal : FileKind::Journal;
        f->entry = found->second->entry;
        f->database = found->second;
    } else if (flags & kTemporaryFiles) {
        // Only an encrypted connection opens files through this VFS.
        f->kind = FileKind::Temporary;
        try {
            f->stream.reset(new CStreamCipher);
        } catch (const std::exception&) {
            return SQLITE_IOERR;  // no exception may cross SQLite
        }
    }
    return SQLITE_OK;
}

int CipherOpen(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    CipherFile* f = new (file) CipherFile();
    f->base.pMethods = nullptr;
    int rc = Classify(name, flags, f);
    if (rc == SQLITE_OK) rc = BaseVfs(vfs)->xOpen(BaseVfs(vfs), name, f->Real(), flags, outFlags);
    // The key must open the file before SQLite may roll back or checkpoint anything.
    if (rc == SQLITE_OK && f->kind == FileKind::Database) {
        rc = ProbeDatabase(f);
        if (rc != SQLITE_OK) f->Real()->pMethods->xClose(f->Real());
    }
    if (rc != SQLITE_OK) {
        f->~CipherFile();
        file->pMethods = nullptr;
        return rc;
    }
    if (f->kind == FileKind::Database) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_databases[f->name] = f;
        // A new file's page 1 takes the form the key asks for; an existing one keeps its own.
    }
    file->pMethods = &kMethods;
    return SQLITE_OK;
}

sqlite3_vfs* RegisteredVfs() {
    static sqlite3_vfs* vfs = [] {
        sqlite3_initialize();
        sqlite3_vfs* base = sqlite3_vfs_find(nullptr);
        // Everything but opening is the default VFS's own.
        static sqlite3_vfs shim = *base;
        shim.pNext = nullptr;
        shim.zName = kVfsName;
        shim.pAppData = base;
        shim.szOsFile = int(CipherFile::Size()) + base->szOsFile;
        shim.xOpen = CipherOpen;
        sqlite3_vfs_register(&shim, 0);
        return &shim;
    }();
    return vfs;
}

wxString EscapeForUri(const wxString& path) {
    wxString escaped;
    for (const wxUniChar c : path) {
        if (c == '%' || c == '?' || c == '#')
            escaped << wxString::Format("%%%02X", int(c.GetValue()));
        else
            escaped << c;
    }
    return escaped;
}

}  // namespace

unsigned CCipherVfs::Register(std::shared_ptr<const CPageCipher> cipher, bool wholeFirstPage) {
    RegisteredVfs();
    std::lock_guard<std::mutex> lock(g_mutex);
    const unsigned id = g_nextId++;
    g_ciphers[id] = CipherEntry{std::move(cipher), wholeFirstPage};
    return id;
}

void CCipherVfs::Unregister(unsigned id) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_ciphers.erase(id);
}

wxString CCipherVfs::Uri(const wxString& path, unsigned id) {
    // "file://" and an empty authority before an absolute path, so that one
    // that starts with two slashes is not read as a host name.
    const wxString prefix = path.StartsWith("/") ? "file://" : "file:";
    return wxString::Format("%s%s?vfs=%s&%s=%u", prefix, EscapeForUri(path), kVfsName, kCipherParameter, id);
}

}  // namespace KvoCore
