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
    if (!SameFileObject(opened, examined)) {
        FailRead(ReadFailure::Replaced, "replaced while read");
        FileClose(fd);
        return false;
    }
    if (!SameFileVersion(opened, examined)) {
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
    if (SameFileVersion(now, context.examined)) return true;
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
