// CContentHashAhead: reads and hashes, on threads of its own, the content of
// the files a file scanner is about to gather, so that reading and hashing
// run beside the scanner's database writes (SQLite stays one writer). With
// more than one worker, files are read side by side: a baseline, whose
// writes are light, otherwise waits on one thread's hashing.
//
// The scanner hands over keys in the order it gathers them and takes each
// key's digests when it gets there. Digests are handed back only for a
// regular file read whole whose status, when the scanner takes them, is still
// the status it had while read. Anything else (a link, a file changed since,
// a failed read, a key the helper has not started) the scanner hashes itself,
// as it would without the helper, so a read ahead never decides an outcome.
//
// Thread safety: the members are called by the scanner's thread only; the
// worker threads are internal, run at the lowest CPU priority, and are joined
// by the destructor. At most `depth` keys wait at once, so a scanner that
// pauses (for its CPU limit, or a stop) holds the helper back within that
// many files.
#pragma once

#include <sys/stat.h>
#include <wx/string.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plugins/im/ContentDigests.h"

namespace KvoPluginIm {

class CContentHashAhead {
public:
    struct Digests {
        std::string md5, sha1, sha256;
        long long size = 0;
    };

    CContentHashAhead(const DigestRequest& request, size_t depth, bool ioPriorityIdle, unsigned workers = 1);
    // Stop()s.
    ~CContentHashAhead();
    // Ends the workers (reads under way are abandoned) and waits for them;
    // Take finds nothing more.
    void Stop();
    CContentHashAhead(const CContentHashAhead&) = delete;
    CContentHashAhead& operator=(const CContentHashAhead&) = delete;

    const DigestRequest& Request() const { return m_request; }
    // Room for more keys: fewer than half the depth are waiting.
    bool WantsMore() const;
    size_t Room() const;
    // The last key handed over; empty before the first.
    const wxString& LastKey() const { return m_lastKey; }
    // path: the key as the file system names it.
    void Add(const wxString& key, const std::string& path);
    // The digests of key, when it was read whole as the version status
    // describes and every wanted kind was made. Keys handed over before it
    // are passed over. False: the caller hashes the key itself.
    bool Take(const wxString& key, const struct stat& status, const DigestRequest& wanted, Digests& out);
    // Whether the workers have read every key handed over and not yet taken.
    bool Drained() const;
    // CPU time the workers have used so far.
    long long CpuNanos() const { return m_cpuNanos.load(); }

private:
    // Abandoned: passed over or taken before a worker started it.
    enum class State { Waiting, Reading, Done, Abandoned };
    struct Item {
        wxString key;
        std::string path;
        State state = State::Waiting;
        bool whole = false;
        struct stat examined {};
        Digests digests;
    };

    void Run();
    // Adds the calling worker's CPU time since `counted` to the total; returns the new mark.
    long long CountCpuTime(long long counted);
    // Reads and hashes one file; false when it is no regular file read whole.
    bool Read(Item& item, std::vector<unsigned char>& buffer);
    bool ReadWhole(int fd, off_t size, CContentDigests& digests, std::vector<unsigned char>& buffer);

    const DigestRequest m_request;
    const size_t m_depth;
    const bool m_ioPriorityIdle;
    wxString m_lastKey;
    mutable std::mutex m_lock;
    std::condition_variable m_work;  // workers: a key to read, or the stop
    std::condition_variable m_done;  // the scanner: the key it waits for is read
    std::deque<std::shared_ptr<Item>> m_items;    // handed over, not yet taken, in order
    std::deque<std::shared_ptr<Item>> m_waiting;  // handed over, not yet started, in order
    const Item* m_awaited = nullptr;              // the key the scanner waits for, if it does
    bool m_stop = false;
    std::atomic<bool> m_stopping{false};
    std::atomic<long long> m_cpuNanos{0};
    std::vector<std::thread> m_workers;
};

}  // namespace KvoPluginIm
