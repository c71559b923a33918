// FileReadContext: the state of one pass over a file's content, passed between
// the file scanner's content hooks as an opaque handle. Owned by the hooks:
// created by OnReadContentBegin, released by OnReadContentEnd.
#pragma once

#include <vector>

namespace KvoPluginIm {

struct FileReadContext {
    FileReadContext(int fd, long long size, std::vector<unsigned char>& buffer)
        : streamMode(size == 0), descriptor(fd), fileSize(size), readBuffer(buffer) {}
    FileReadContext(const FileReadContext&) = delete;
    FileReadContext& operator=(const FileReadContext&) = delete;

    // Pseudo-files and pipes report no size and cannot be mapped: they are
    // read with poll and read instead.
    bool streamMode;
    // Small files are read at once: mapping and unmapping a window costs more
    // than the copy, and each unmap interrupts the process's other CPUs.
    bool readMode = false;
    int descriptor;
    int mapping = 0;
    void* windowAddress = nullptr;
    unsigned long long windowLength = 0;
    long long fileSize;
    // The scanner's buffer, shared by all its streamed reads.
    std::vector<unsigned char>& readBuffer;
};

}  // namespace KvoPluginIm
