#include "plugins/im/ContentHashAhead.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/Utilities.h"
#include "plugins/im/FileReadContext.h"

namespace KvoPluginIm {
namespace {

const size_t kReadWindow = 0x80000;

}  // namespace

CContentHashAhead::CContentHashAhead(const DigestRequest& request, size_t depth, bool ioPriorityIdle,
                                     unsigned workers)
    : m_request(request), m_depth(std::max<size_t>(depth, 2)), m_ioPriorityIdle(ioPriorityIdle) {
    try {
        for (unsigned i = 0; i < std::max(workers, 1u); ++i) m_workers.emplace_back([this] { Run(); });
    } catch (...) {
        // A thread that could not start: those that did must not outlive a half-built object.
        Stop();
        throw;
    }
}

CContentHashAhead::~CContentHashAhead() { Stop(); }

void CContentHashAhead::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
        m_items.clear();
        m_waiting.clear();
    }
    m_stopping.store(true);
    m_work.notify_all();
    m_done.notify_all();
    for (std::thread& worker : m_workers)
        if (worker.joinable()) worker.join();
}

bool CContentHashAhead::WantsMore() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_items.size() < m_depth / 2;
}

size_t CContentHashAhead::Room() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_depth > m_items.size() ? m_depth - m_items.size() : 0;
}

bool CContentHashAhead::Drained() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return std::all_of(m_items.begin(), m_items.end(),
                       [](const std::shared_ptr<Item>& item) { return item->state == State::Done; });
}

void CContentHashAhead::Add(const wxString& key, const std::string& path) {
    auto item = std::make_shared<Item>();
    item->key = key;
    item->path = path;
    m_lastKey = key;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_items.push_back(item);
        m_waiting.push_back(std::move(item));
    }
    m_work.notify_one();
}

bool CContentHashAhead::Take(const wxString& key, const struct stat& status, const DigestRequest& wanted,
                             Digests& out) {
    std::unique_lock<std::mutex> lock(m_lock);
    // Keys are handed over in the order they are gathered: those before key
    // were gathered without a digest (links, vanished files) or dropped.
    auto letGo = [this] {
        if (m_items.front()->state == State::Waiting) {
            m_items.front()->state = State::Abandoned;
            // Not started, so nothing handed over after it was started either:
            // it is first in line, and leaves the line now, so that workers
            // held back for long do not pile up keys nobody waits for.
            if (!m_waiting.empty() && m_waiting.front() == m_items.front()) m_waiting.pop_front();
        }
        m_items.pop_front();
    };
    while (!m_items.empty() && m_items.front()->key < key) letGo();
    if (m_items.empty() || m_items.front()->key != key) return false;
    std::shared_ptr<Item> item = m_items.front();
    letGo();
    // Not started: hashing it here is quicker than waiting for the worker.
    if (item->state == State::Abandoned) return false;
    if (item->state != State::Done) {
        m_awaited = item.get();
        m_done.wait(lock, [&item] { return item->state == State::Done; });
        m_awaited = nullptr;
    }
    if (!item->whole || !m_request.Covers(wanted) || !SameFileVersion(item->examined, status)) return false;
    out = std::move(item->digests);
    return true;
}

void CContentHashAhead::Run() {
    if (m_ioPriorityIdle) SetCallingThreadIoIdle();
    // The scanner's database work is the longer part of a scan, and a worker
    // that shares its core would hold it back: two cores ran the scanner,
    // the other scanner and two workers, and the scanner lost a sixth of its
    // time waiting to run. A worker that falls behind costs nothing more
    // than the scanner reading that file itself.
    const int kLowestPriority = 19;
    KvoCore::SetCallingThreadNice(kLowestPriority);
    std::vector<unsigned char> buffer(kReadWindow);
    long long counted = 0;
    for (;;) {
        std::shared_ptr<Item> item;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_work.wait(lock, [this] { return m_stop || !m_waiting.empty(); });
            if (m_stop) break;
            item = std::move(m_waiting.front());
            m_waiting.pop_front();
            if (item->state != State::Waiting) continue;
            item->state = State::Reading;
        }
        const bool whole = Read(*item, buffer);
        counted = CountCpuTime(counted);
        bool awaited;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            item->whole = whole;
            item->state = State::Done;
            awaited = m_awaited == item.get();
        }
        if (awaited) m_done.notify_one();
    }
    CountCpuTime(counted);
}

long long CContentHashAhead::CountCpuTime(long long counted) {
    struct timespec cpu;
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu) != 0) return counted;
    const long long now = KvoCore::TimespecNanos(cpu);
    m_cpuNanos.fetch_add(now - counted);
    return now;
}

bool CContentHashAhead::Read(Item& item, std::vector<unsigned char>& buffer) {
    struct stat before;
    // Empty files may be pseudo-files that are read as streams: the scanner's own read knows them.
    if (lstat(item.path.c_str(), &before) != 0 || !S_ISREG(before.st_mode) || before.st_size <= 0) return false;
    const int fd = OpenForReading(item.path.c_str(), O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return false;
    struct stat opened;
    bool whole = fstat(fd, &opened) == 0 && SameFileVersion(opened, before);
    if (whole) {
        const bool dropCachedPages = !AnyPageCached(fd, opened.st_size);
        CContentDigests digests(m_request);
        struct stat after;
        whole = ReadWhole(fd, opened.st_size, digests, buffer) && fstat(fd, &after) == 0 && SameFileVersion(after, opened);
        // As the scanner's own reads: pages this read alone brought in do not stay.
        if (dropCachedPages) posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        if (whole) {
            digests.Finish(item.digests.md5, item.digests.sha1, item.digests.sha256);
            item.digests.size = static_cast<long long>(opened.st_size);
            item.examined = opened;
        }
    }
    close(fd);
    return whole;
}

bool CContentHashAhead::ReadWhole(int fd, off_t size, CContentDigests& digests, std::vector<unsigned char>& buffer) {
    for (off_t offset = 0; offset < size;) {
        if (m_stopping.load()) return false;
        const size_t want = static_cast<size_t>(std::min<off_t>(static_cast<off_t>(kReadWindow), size - offset));
        ssize_t got;
        do {
            got = pread(fd, buffer.data(), want, offset);
        } while (got < 0 && errno == EINTR);
        if (got <= 0) return false;
        digests.Update(buffer.data(), static_cast<size_t>(got));
        offset += got;
    }
    return true;
}

}  // namespace KvoPluginIm
