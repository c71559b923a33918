// CFileIntegrityScanThread: reading a file's content for hashing, with pread
// in windows, or streamed reads for files that report no size.
//
// Content is never mapped: a mapped file that shrinks under the reader raises
// SIGBUS, which would take the whole agent down. A read that cannot see the
// examined version of the file whole (it was replaced, shrank, grew, or was
// written while read; a read error; no data in time) fails, so that no digest
// is made from part of a file. Only a replaced file is worth another try: a
// file swapped in by rename is whole, one written in place is still moving.
// (A file is mapped only to ask which of its pages are cached, never read.)
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "core/Log.h"
#include "plugins/im/SystemIntegrityFileScannerThread.h"
#include "plugins/im/FileReadContext.h"

namespace KvoPluginIm {
namespace {

FileReadContext* Context(unsigned long handle) { return reinterpret_cast<FileReadContext*>(handle); }

void GrowTo(std::vector<unsigned char>& buffer, size_t size) {
    if (buffer.size() < size) buffer.resize(size);
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool SameObject(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The same object, not written since: the change time moves with every write.
bool SameVersion(const struct stat& a, const struct stat& b) {
    return SameObject(a, b) && a.st_size == b.st_size && SameTime(a.st_mtim, b.st_mtim) &&
           SameTime(a.st_ctim, b.st_ctim);
}

// cachestat (Linux 6.5) answers with one call; the C library has no wrapper
// and older kernel headers no number for it (451 on every architecture).
struct CacheStatRange {
    uint64_t offset;
    uint64_t length;
};
struct CacheStat {
    uint64_t cached, dirty, writeback, evicted, recentlyEvicted;
};
const long kCachestatCall = 451;

// Whether any page of the file is in the page cache; true when that cannot be told.
bool AnyPageCached(int fd, off_t size) {
    if (size <= 0) return true;
    CacheStatRange whole = {0, 0};  // length 0: to the end of the file
    CacheStat stat = {};
    if (syscall(kCachestatCall, fd, &whole, &stat, 0) == 0) return stat.cached > 0;
    if (errno != ENOSYS) return true;
    void* map = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) return true;
    const long page = sysconf(_SC_PAGESIZE);
    std::vector<unsigned char> resident(static_cast<size_t>((size + page - 1) / page));
    const bool known = mincore(map, static_cast<size_t>(size), resident.data()) == 0;
    munmap(map, static_cast<size_t>(size));
    return !known || std::any_of(resident.begin(), resident.end(), [](unsigned char p) { return (p & 1) != 0; });
}

}  // namespace

void CFileIntegrityScanThread::FailRead(ReadFailure kind, const wxString& reason) {
    m_readFailure = kind;
    m_readFailureReason = reason;
}

bool CFileIntegrityScanThread::OnReadContentBegin(const wxString& key, unsigned long& handle) {
    handle = 0;
    // A link's content is its target's; anything else is read only as the
    // object the status record describes, never through a link put in its place.
    const bool link = !m_statusRead || S_ISLNK(m_status.st_mode);
    struct stat examined = m_status;
    if (link && stat(key.fn_str(), &examined) != 0) {
        KVO_SCANNER_TRACE("Unable to open %s err=%d", key, errno);
        return false;
    }
    if (!S_ISREG(examined.st_mode)) return false;
    const int fd = FileOpenReadonly(key, O_NONBLOCK | (link ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT && !link)
            m_vanished = true;
        else if (error == ELOOP && !link)
            FailRead(ReadFailure::Replaced, "replaced by a symbolic link while read");
        KVO_SCANNER_TRACE("Unable to open %s err=%d", key, error);
        return false;
    }
    struct stat opened;
    if (fstat(fd, &opened) != 0) {
        FailRead(ReadFailure::Failed, wxString::Format("fstat: %s", strerror(errno)));
        FileClose(fd);
        return false;
    }
    if (!SameObject(opened, examined)) {
        FailRead(ReadFailure::Replaced, "replaced while read");
        FileClose(fd);
        return false;
    }
    if (!SameVersion(opened, examined)) {
        FailRead(ReadFailure::Changed, "changed while read");
        FileClose(fd);
        return false;
    }
    FileReadContext* context = new FileReadContext(fd, static_cast<long long>(opened.st_size), examined, m_readBuffer);
    context->dropCachedPages = !context->streamMode && !AnyPageCached(fd, opened.st_size);
    GrowTo(m_readBuffer, context->streamMode ? s_StreamChunk : s_ReadWindow);
    handle = reinterpret_cast<unsigned long>(context);
    return true;
}

bool CFileIntegrityScanThread::OnReadContent(const wxString& key, unsigned long handle, unsigned long long offset,
                                             void*& data, unsigned long& length) {
    data = nullptr;
    length = 0;
    FileReadContext* context = Context(handle);
    if (context == nullptr) return true;
    return context->streamMode ? ReadStreamed(key, *context, data, length)
                               : ReadWindow(*context, offset, data, length);
}

bool CFileIntegrityScanThread::ReadWindow(FileReadContext& context, unsigned long long offset, void*& data,
                                          unsigned long& length) {
    const unsigned long long size = static_cast<unsigned long long>(context.fileSize);
    if (offset >= size) return ReadEnded(context);
    const size_t want = static_cast<size_t>(std::min<unsigned long long>(s_ReadWindow, size - offset));
    ssize_t got;
    do {
        got = pread(context.descriptor, context.readBuffer.data(), want, static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        FailRead(ReadFailure::Failed, strerror(errno));
        return false;
    }
    if (got == 0) {
        FailRead(ReadFailure::Changed, "shrank while read");
        return false;
    }
    data = context.readBuffer.data();
    length = static_cast<unsigned long>(got);
    return true;
}

bool CFileIntegrityScanThread::ReadStreamed(const wxString& key, FileReadContext& context, void*& data,
                                            unsigned long& length) {
    struct pollfd wait = {context.descriptor, POLLIN, 0};
    int ready;
    do {
        ready = poll(&wait, 1, s_StreamWaitSeconds * 1000);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        const wxString text =
            wxString::Format("Timed out after %d seconds waiting for data on %s", s_StreamWaitSeconds, key);
        KvoCore::LogWarning(text);
        FailRead(ReadFailure::Reported, text);
        return false;
    }
    if (ready < 0) {
        FailRead(ReadFailure::Failed, wxString::Format("poll: %s", strerror(errno)));
        return false;
    }
    if (!FileRead(context.descriptor, context.readBuffer.data(), s_StreamChunk, length)) {
        FailRead(ReadFailure::Failed, strerror(errno));
        return false;
    }
    if (length == 0) return ReadEnded(context);
    data = context.readBuffer.data();
    return true;
}

bool CFileIntegrityScanThread::ReadEnded(FileReadContext& context) {
    struct stat now;
    if (fstat(context.descriptor, &now) != 0) {
        FailRead(ReadFailure::Failed, wxString::Format("fstat: %s", strerror(errno)));
        return false;
    }
    if (SameVersion(now, context.examined)) return true;
    FailRead(ReadFailure::Changed, "changed while read");
    return false;
}

bool CFileIntegrityScanThread::OnReadContentEnd(const wxString&, unsigned long handle) {
    FileReadContext* context = Context(handle);
    if (context == nullptr) return true;
    if (context->dropCachedPages) posix_fadvise(context->descriptor, 0, 0, POSIX_FADV_DONTNEED);
    FileClose(context->descriptor);
    delete context;
    return true;
}

}  // namespace KvoPluginIm
