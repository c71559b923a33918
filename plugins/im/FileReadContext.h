// FileReadContext: the state of one pass over a file's content, passed between
// the file scanner's content hooks as an opaque handle. Owned by the hooks:
// created by OnReadContentBegin, released by OnReadContentEnd.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <vector>

namespace KvoPluginIm {

// The same object (device and inode).
bool SameFileObject(const struct stat& a, const struct stat& b);
// The same object, not written since: the change time moves with every write.
bool SameFileVersion(const struct stat& a, const struct stat& b);
// Whether any page of the file is in the page cache; true when that cannot be told.
bool AnyPageCached(int fd, off_t size);
// open(2) for reading only, without updating the access time where the agent may.
int OpenForReading(const char* path, int flags);
// Idle IO priority for the calling thread; false (errno set) when refused.
bool SetCallingThreadIoIdle();

struct FileReadContext {
    FileReadContext(int fd, long long size, const struct stat& examined, std::vector<unsigned char>& buffer)
        : streamMode(size == 0), descriptor(fd), fileSize(size), examined(examined), readBuffer(buffer) {}
    FileReadContext(const FileReadContext&) = delete;
    FileReadContext& operator=(const FileReadContext&) = delete;

    // Pseudo-files report no size: they are read with poll and read until
    // the end. Every other file is read with pread in windows up to its size.
    bool streamMode;
    int descriptor;
    long long fileSize;
    // The status the scanner recorded for the object; the content belongs to
    // that version only when the opened file still matches it at the end.
    struct stat examined;
    // The scanner's buffer, shared by all its reads.
    std::vector<unsigned char>& readBuffer;
    // No page of the file was cached before the read: the pages the read
    // brought in are dropped after it, so that a scan does not push the
    // host's own data out of the page cache.
    bool dropCachedPages = false;
};

}  // namespace KvoPluginIm
