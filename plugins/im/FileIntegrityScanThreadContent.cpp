// CFileIntegrityScanThread: reading a file's content for hashing, through
// mapped windows, or streamed reads for files that report no size.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/Log.h"
#include "plugins/im/FileIntegrityScanThread.h"
#include "plugins/im/FileReadContext.h"

namespace KvoPluginIm {
namespace {

void LogSystemError(const wxString& what, int error) {
    KvoCore::LogError(wxString::Format("wx.sys_error: %s (error %d: %s)", what, error, strerror(error)));
}

FileReadContext* Context(unsigned long handle) { return reinterpret_cast<FileReadContext*>(handle); }

void GrowForStreamedRead(std::vector<unsigned char>& buffer) {
    if (buffer.capacity() < 0x2000) buffer.reserve(0x2400);
    buffer.resize(buffer.capacity());
}

void GrowTo(std::vector<unsigned char>& buffer, size_t size) {
    if (buffer.size() < size) buffer.resize(size);
}

void UnmapWindow(FileReadContext& context, const wxString& key) {
    if (context.windowAddress == nullptr) return;
    if (!CIntegrityScanThread::FileMemoryUnmapRegion(context.windowAddress,
                                                     static_cast<unsigned long>(context.windowLength)))
        LogSystemError(wxString::Format("Unmapping region of file %s", key), errno);
    context.windowAddress = nullptr;
    context.windowLength = 0;
}

}  // namespace

bool CFileIntegrityScanThread::OnReadContentBegin(const wxString& key, unsigned long& handle) {
    handle = 0;
    // The status record of this file was read moments ago; a regular file
    // that is no link needs no second stat before it is opened.
    const bool knownRegular = m_statusRead && S_ISREG(m_status.st_mode);
    if (!knownRegular) {
        struct stat st;
        if (stat(key.fn_str(), &st) == 0 && !S_ISREG(st.st_mode)) return false;
    }
    const int fd = FileOpenReadonly(key, O_NONBLOCK);
    if (fd < 0) {
        KVO_SCANNER_TRACE("Unable to open %s err=%d", key, errno);
        return false;
    }
    struct stat opened;
    if (fstat(fd, &opened) != 0) {
        FileClose(fd);
        return true;
    }
    if (!S_ISREG(opened.st_mode)) {
        FileClose(fd);
        return false;
    }
    FileReadContext* context = new FileReadContext(fd, static_cast<long long>(opened.st_size), m_readBuffer);
    if (context->streamMode) {
        GrowForStreamedRead(m_readBuffer);
    } else if (opened.st_size <= static_cast<off_t>(s_ReadWholeMax)) {
        context->readMode = true;
        GrowTo(m_readBuffer, s_ReadWholeMax);
    } else {
        context->mapping = FileCreateMemoryMapping(fd);
        if (context->mapping == 0) {
            LogSystemError(wxString::Format("Unable to memory-map file %s", key), errno);
            FileClose(fd);
            delete context;
            return false;
        }
    }
    handle = reinterpret_cast<unsigned long>(context);
    return true;
}

bool CFileIntegrityScanThread::OnReadContent(const wxString& key, unsigned long handle, unsigned long long offset,
                                             void*& data, unsigned long& length) {
    data = nullptr;
    length = 0;
    FileReadContext* context = Context(handle);
    if (context == nullptr) return true;
    if (context->readMode) {
        // The size read at open bounds the content, as it bounds a mapping.
        const unsigned long long size = static_cast<unsigned long long>(context->fileSize);
        if (offset >= size) return true;
        const unsigned long want =
            static_cast<unsigned long>(std::min<unsigned long long>(s_ReadWholeMax, size - offset));
        if (!FileRead(context->descriptor, context->readBuffer.data(), want, length)) return false;
        data = context->readBuffer.data();
        return true;
    }
    if (!context->streamMode) {
        UnmapWindow(*context, key);
        const unsigned long long size = static_cast<unsigned long long>(context->fileSize);
        if (offset >= size) return true;
        const unsigned long window = static_cast<unsigned long>(std::min<unsigned long long>(s_MapWindow, size - offset));
        void* address = FileMemoryMapRegion(context->descriptor, context->mapping, offset, window);
        if (address != nullptr) {
            context->windowAddress = address;
            context->windowLength = window;
            data = address;
            length = window;
            return true;
        }
        const int error = errno;
        if (error != ENODEV || offset != 0) {
            LogSystemError(wxString::Format("Mapping failed for offset %lld of file %s", static_cast<long long>(offset),
                                            key),
                           error);
            return false;
        }
        // Some special files have a size but cannot be mapped: read them instead.
        context->streamMode = true;
    }
    struct pollfd wait = {context->descriptor, POLLIN, 0};
    const int ready = poll(&wait, 1, s_StreamWaitSeconds * 1000);
    if (ready == 0) {
        KvoCore::LogWarning(
            wxString::Format("Timed out after %d seconds waiting for data on %s", s_StreamWaitSeconds, key));
        return false;
    }
    if (ready < 0) {
        LogSystemError(wxString::Format("poll(%s)", key), errno);
        return false;
    }
    GrowForStreamedRead(context->readBuffer);
    if (!FileRead(context->descriptor, context->readBuffer.data(), s_StreamChunk, length)) return false;
    data = context->readBuffer.data();
    return true;
}

bool CFileIntegrityScanThread::OnReadContentEnd(const wxString& key, unsigned long handle) {
    FileReadContext* context = Context(handle);
    if (context == nullptr) return true;
    UnmapWindow(*context, key);
    // The mapping handle is no object of its own on this platform (-1), so
    // there is nothing to close for it.
    FileClose(context->descriptor);
    delete context;
    return true;
}

}  // namespace KvoPluginIm
