#include "core/Utilities.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <charconv>
#include <cstring>
#include <iterator>
#include <utility>

#include <wx/strconv.h>
#include <wx/tokenzr.h>

namespace KvoCore {

unsigned long SystemTickCount() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<unsigned long>(ts.tv_sec) * 1000UL + static_cast<unsigned long>(ts.tv_nsec / 1000000);
}

long long TimeNowMillis() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000LL + ts.tv_nsec / 1000000;
}

long long TimespecNanos(const struct timespec& ts) {
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

namespace {

long long Nanos(const struct timespec& ts) { return TimespecNanos(ts); }

long long Nanos(const struct statx_timestamp& ts) {
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The status as lstat gives it, from a statx that also asked for the birth time.
void StatusFromStatx(const struct statx& sx, struct stat& st) {
    st = {};
    st.st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    st.st_ino = static_cast<ino_t>(sx.stx_ino);
    st.st_mode = sx.stx_mode;
    st.st_nlink = sx.stx_nlink;
    st.st_uid = sx.stx_uid;
    st.st_gid = sx.stx_gid;
    st.st_rdev = makedev(sx.stx_rdev_major, sx.stx_rdev_minor);
    st.st_size = static_cast<off_t>(sx.stx_size);
    st.st_blksize = static_cast<blksize_t>(sx.stx_blksize);
    st.st_blocks = static_cast<blkcnt_t>(sx.stx_blocks);
    for (const auto& [from, to] : {std::pair{&sx.stx_atime, &st.st_atim}, std::pair{&sx.stx_mtime, &st.st_mtim},
                                   std::pair{&sx.stx_ctime, &st.st_ctim}}) {
        to->tv_sec = from->tv_sec;
        to->tv_nsec = from->tv_nsec;
    }
}

// One statx when the birth time is wanted too: a scan reads this for every
// entity, and a second call for the birth time was a quarter of its system calls.
bool ReadStatus(const char* name, bool wantBirth, struct stat& st, long long& born) {
    born = 0;
    if (wantBirth) {
        struct statx sx;
        if (statx(AT_FDCWD, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0 &&
            (sx.stx_mask & STATX_BASIC_STATS) == STATX_BASIC_STATS) {
            StatusFromStatx(sx, st);
            born = (sx.stx_mask & STATX_BTIME) ? Nanos(sx.stx_btime) : Nanos(st.st_ctim);
            return true;
        }
        // A file system without some basic field, or a kernel without statx: lstat says what it can.
    }
    if (lstat(name, &st) != 0) return false;
    born = Nanos(st.st_ctim);
    return true;
}

}  // namespace

bool SetCallingThreadNice(int nice) {
    return setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), nice) == 0;
}

bool GetFileTimestamps(const wxString& path, long long* lastAccessed, long long* lastModified,
                       long long* created, long long* size, struct stat* status) {
    const wxCharBuffer name = path.fn_str();
    struct stat st;
    long long born;
    if (!ReadStatus(name, created != nullptr, st, born)) return false;
    if (lastAccessed) *lastAccessed = Nanos(st.st_atim);
    if (lastModified) *lastModified = Nanos(st.st_mtim);
    if (size) *size = static_cast<long long>(st.st_size);
    if (status) *status = st;
    if (created) *created = born;
    return true;
}

long long FileTimestampToJTime(long long fileTime) {
    // Floor division keeps times before the epoch on the right millisecond.
    long long ms = fileTime / 1000000LL;
    if (fileTime % 1000000LL < 0) --ms;
    return ms;
}

long long FileTimestampToJTimeWindows(long long fileTime) {
    static const long long kEpochDifference100ns = 116444736000000000LL;  // 1601 to 1970
    long long since1970 = fileTime - kEpochDifference100ns;
    long long ms = since1970 / 10000LL;
    if (since1970 % 10000LL < 0) --ms;
    return ms;
}

wxString toHexString(const void* data, size_t length) {
    static const char digits[] = "0123456789abcdef";
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::string out(length * 2, '0');
    for (size_t i = 0; i < length; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 0x0f];
    }
    return wxString::FromAscii(out.c_str());
}

wxString toHexString(const wxMemoryBuffer& buffer) { return toHexString(buffer.GetData(), buffer.GetDataLen()); }

namespace {

int HexValue(wxUniChar c) {
    wxUint32 v = c.GetValue();
    if (v >= '0' && v <= '9') return static_cast<int>(v - '0');
    if (v >= 'a' && v <= 'f') return static_cast<int>(v - 'a' + 10);
    if (v >= 'A' && v <= 'F') return static_cast<int>(v - 'A' + 10);
    return -1;
}

}  // namespace

bool isHexString(const wxString& text) {
    if (text.length() % 2 != 0) return false;
    for (wxUniChar c : text)
        if (HexValue(c) < 0) return false;
    return true;
}

bool fromHexString(const wxString& text, wxMemoryBuffer& buffer) {
    if (!isHexString(text)) return false;
    size_t n = text.length() / 2;
    wxMemoryBuffer out(n);
    unsigned char* bytes = static_cast<unsigned char*>(out.GetWriteBuf(n));
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<unsigned char>(HexValue(text[2 * i]) * 16 + HexValue(text[2 * i + 1]));
    out.UngetWriteBuf(n);
    buffer = out;
    return true;
}

std::string toBase64String(const void* data, size_t length) {
    std::string out(4 * ((length + 2) / 3) + 1, '\0');
    int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                  static_cast<const unsigned char*>(data), static_cast<int>(length));
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return out;
}

bool isLegalUTF8String(const char* text, size_t length) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        unsigned char c = s[i];
        size_t extra;
        unsigned int cp;
        if (c < 0x80) { ++i; continue; }
        if (c >= 0xC2 && c <= 0xDF) { extra = 1; cp = c & 0x1F; }
        else if (c >= 0xE0 && c <= 0xEF) { extra = 2; cp = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { extra = 3; cp = c & 0x07; }
        else return false;
        for (size_t k = 1; k <= extra; ++k) {
            if (i + k >= length || (s[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values above U+10FFFF are not UTF-8.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

wxString ReplaceBars(const wxString& text) {
    wxString out(text);
    out.Replace("|", wxString(wxUniChar(0x00A6)));
    return out;
}

namespace {

template <typename Items, typename Format>
wxString JoinList(const Items& items, wxChar separator, bool brackets, Format format) {
    wxString out;
    if (brackets) out << '(';
    bool first = true;
    for (const auto& item : items) {
        if (!first) out << separator;
        out << format(item);
        first = false;
    }
    if (brackets) out << ')';
    return out;
}

}  // namespace

wxString toList(const Int64Set& ids, wxChar separator, bool brackets) {
    return JoinList(ids, separator, brackets, [](long long id) { return toDecimalString(id); });
}

wxString toList(const WxStringSet& items, wxChar separator, bool brackets) {
    return JoinList(items, separator, brackets, [](const wxString& s) { return s; });
}

bool fromList(const wxString& text, Int64Set& ids, wxChar separator) {
    wxString body = text;
    body.Trim(true).Trim(false);
    if (body.StartsWith("(") && body.EndsWith(")")) body = body.Mid(1, body.length() - 2);
    wxStringTokenizer pieces(body, wxString(separator), wxTOKEN_STRTOK);
    while (pieces.HasMoreTokens()) {
        wxString piece = pieces.GetNextToken();
        piece.Trim(true).Trim(false);
        if (piece.empty()) continue;
        long long id;
        if (!piece.ToLongLong(&id)) return false;
        ids.insert(id);
    }
    return true;
}

void AddToMapSet(MapStringToInt64Set& map, const wxString& key, long long id) { map[key].insert(id); }

wxString toString(bool value) { return value ? wxString("true") : wxString("false"); }

namespace {
template <typename Number>
wxString NumberText(Number value, int base) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value, base).ptr;
    return wxString::FromAscii(text, static_cast<size_t>(end - text));
}
}  // namespace

wxString toDecimalString(long long value) { return NumberText(value, 10); }

wxString toOctalString(unsigned long long value) { return NumberText(value, 8); }

wxString fromUTF8Text(const char* text, size_t length) {
    if (text == nullptr) return wxString();
    const size_t n = strnlen(text, length);
    // Nearly every key and value is short ASCII, widened here in one pass: the
    // general converter measures the text, converts it again, then copies it.
    wchar_t wide[256];
    if (n > std::size(wide)) return wxString::FromUTF8(text, n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) return wxString::FromUTF8(text, n);
        wide[i] = c;
    }
    return wxString(wide, n);
}

bool FileIsExecutable(const wxString& path, int fd) {
    struct stat st;
    int rc = fd >= 0 ? fstat(fd, &st) : stat(path.fn_str(), &st);
    if (rc != 0 || !S_ISREG(st.st_mode)) return false;
    if (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) return true;
    int own = -1;
    if (fd < 0) {
        own = open(path.fn_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);  // a FIFO put in its place must not block
        if (own < 0) return false;
    }
    unsigned char head[4] = {0, 0, 0, 0};
    ssize_t n = pread(fd >= 0 ? fd : own, head, sizeof head, 0);
    if (own >= 0) close(own);
    if (n >= 4 && head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') return true;
    return n >= 2 && head[0] == '#' && head[1] == '!';
}

void InitFileNameConversion() {
    // Names that are not UTF-8 map into the private-use area and back, so a
    // name read from a directory opens again.
    static wxMBConvUTF8 conv(wxMBConvUTF8::MAP_INVALID_UTF8_TO_PUA);
    wxConvFileName = &conv;
}

}  // namespace KvoCore
