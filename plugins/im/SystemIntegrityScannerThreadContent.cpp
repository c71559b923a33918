// CIntegrityScanThread: content digests, and the read-only file access the
// file scanners read content through.
#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Log.h"
#include "plugins/im/SystemIntegrityScannerThread.h"

namespace KvoPluginIm {
namespace {

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

// One requested digest: its context and where its raw bytes go.
struct Digest {
    DigestContext context;
    std::string* out;
};

}  // namespace

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

    std::vector<Digest> digests;
    const struct {
        bool requested;
        const EVP_MD* algorithm;
        std::string* out;
    } wanted[] = {{md5, EVP_md5(), &m_md5}, {sha1, EVP_sha1(), &m_sha1}, {sha256, EVP_sha256(), &m_sha256}};
    for (const auto& want : wanted) {
        if (!want.requested) continue;
        DigestContext context(EVP_MD_CTX_new());
        if (!context || EVP_DigestInit_ex(context.get(), want.algorithm, nullptr) != 1) {
            // Without this digest the others still go on; the caller finds it empty.
            want.out->clear();
            continue;
        }
        digests.push_back({std::move(context), want.out});
    }

    // One pass over the content feeds every digest, so it is read only once.
    unsigned long long offset = 0;
    void* data = nullptr;
    unsigned long length = 0;
    bool complete = true;
    while ((complete = OnReadContent(key, handle, offset, data, length)) && data != nullptr && length != 0) {
        for (Digest& digest : digests) EVP_DigestUpdate(digest.context.get(), data, length);
        offset += length;
        data = nullptr;
        length = 0;
    }
    OnReadContentEnd(key, handle);
    m_contentSize = static_cast<long long>(offset);
    if (!complete) {
        // The digest of part of the content would be a change that never happened.
        for (Digest& digest : digests) digest.out->clear();
        m_contentIncomplete = true;
        return false;
    }

    for (Digest& digest : digests) {
        unsigned char bytes[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (EVP_DigestFinal_ex(digest.context.get(), bytes, &size) == 1)
            digest.out->assign(reinterpret_cast<const char*>(bytes), size);
        else
            digest.out->clear();
    }
    if (const unsigned elapsed = StatsElapsedMsec(started))
        TraceStats(wxString::Format("%u msec to hash %llu bytes of %s", elapsed, offset, key));
    return true;
}

int CIntegrityScanThread::FileOpenReadonly(const wxString& path, int flags) {
    const wxCharBuffer name = path.fn_str();
    int fd = open(name, flags | O_RDONLY | O_NOATIME | O_CLOEXEC, 0);
    // O_NOATIME is refused for a file the agent neither owns nor may override
    // the owner of; reading it then costs an access-time update.
    if (fd < 0 && errno == EPERM) fd = open(name, flags | O_RDONLY | O_CLOEXEC, 0);
    return fd;
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
