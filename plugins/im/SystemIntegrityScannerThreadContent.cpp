// CIntegrityScanThread: content digests, and the read-only file access the
// file scanners read content through.
#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Log.h"
#include "plugins/im/ContentDigests.h"
#include "plugins/im/FileReadContext.h"
#include "plugins/im/SystemIntegrityScannerThread.h"

namespace KvoPluginIm {

bool CIntegrityScanThread::HashContent(const wxString& key, bool md5, bool sha1, bool sha256) {
    const unsigned long started = KvoCore::SystemTickCount();
    m_contentSize = 0;
    m_contentIncomplete = false;
    unsigned long handle = 0;
    if (!OnReadContentBegin(key, handle)) {
        m_md5.clear();
        m_sha1.clear();
        m_sha256.clear();
        return false;
    }

    CContentDigests digests({md5, sha1, sha256});

    // One pass over the content feeds every digest, so it is read only once.
    unsigned long long offset = 0;
    void* data = nullptr;
    unsigned long length = 0;
    bool complete = true;
    while ((complete = OnReadContent(key, handle, offset, data, length)) && data != nullptr && length != 0) {
        digests.Update(data, length);
        offset += length;
        data = nullptr;
        length = 0;
    }
    OnReadContentEnd(key, handle);
    m_contentSize = static_cast<long long>(offset);
    if (!complete) {
        // The digest of part of the content would be a change that never happened.
        digests.Abandon(m_md5, m_sha1, m_sha256);
        m_contentIncomplete = true;
        return false;
    }

    digests.Finish(m_md5, m_sha1, m_sha256);
    if (const unsigned elapsed = StatsElapsedMsec(started))
        TraceStats(wxString::Format("%u msec to hash %llu bytes of %s", elapsed, offset, key));
    return true;
}

int CIntegrityScanThread::FileOpenReadonly(const wxString& path, int flags) {
    return OpenForReading(path.fn_str(), flags);
}

bool CIntegrityScanThread::FileRead(int fd, void* buffer, unsigned long length, unsigned long& done) {
    const ssize_t got = read(fd, buffer, length);
    if (got < 0) {
        done = 0;
        return false;
    }
    done = static_cast<unsigned long>(got);
    return true;
}

void CIntegrityScanThread::FileClose(int fd) {
    if (fd != -1) close(fd);
}

// Linux maps the descriptor itself; there is no mapping object in between.
int CIntegrityScanThread::FileCreateMemoryMapping(int) { return -1; }

void* CIntegrityScanThread::FileMemoryMapRegion(int fd, int, unsigned long long offset, unsigned long length) {
    void* address = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, static_cast<off_t>(offset));
    return address == MAP_FAILED ? nullptr : address;
}

bool CIntegrityScanThread::FileMemoryUnmapRegion(void* address, unsigned long length) {
    return munmap(address, length) == 0;
}

}  // namespace KvoPluginIm
