#include "core/Log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>

namespace KvoCore {
namespace {

// Category switches are read on every trace call from many threads; they change
// rarely (start-up, reload), hence the reader-writer lock.
struct TraceSwitches {
    std::shared_mutex lock;
    std::set<std::string> categories;
    std::atomic<bool> all{false};
    std::atomic<bool> any{false};
};

TraceSwitches& Switches() {
    static TraceSwitches s;
    return s;
}

std::mutex& OutputLock() {
    static std::mutex m;
    return m;
}

int g_fileFd = -1;
std::atomic<int> g_stderrLevel{static_cast<int>(LogLevel::Info)};

std::string Timestamp() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tmv;
    gmtime_r(&tv.tv_sec, &tmv);
    char buf[40];
    size_t n = strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tmv);
    snprintf(buf + n, sizeof buf - n, ".%03dZ", static_cast<int>(tv.tv_usec / 1000));
    return buf;
}

// Under systemd, stderr may be the journal (JOURNAL_STREAM names the stream
// as device:inode): it stamps each line itself and reads the priority from a
// "<N>" prefix.
bool StderrIsJournal() {
    static const bool journal = [] {
        const char* stream = getenv("JOURNAL_STREAM");
        unsigned long long device = 0, inode = 0;
        struct stat st;
        if (stream == nullptr || sscanf(stream, "%llu:%llu", &device, &inode) != 2 || fstat(2, &st) != 0)
            return false;
        return st.st_dev == device && st.st_ino == inode;
    }();
    return journal;
}

// body is the line without its time; priority the syslog one for the journal.
void Emit(int level, int priority, const std::string& body) {
    const std::string line = Timestamp() + body;
    std::lock_guard<std::mutex> guard(OutputLock());
    if (level <= g_stderrLevel.load()) {
        const std::string out = StderrIsJournal() ? "<" + std::to_string(priority) + ">" + body.substr(1) : line;
        fwrite(out.data(), 1, out.size(), stderr);
        fflush(stderr);
    }
    if (g_fileFd >= 0) {
        // One write per line on an O_APPEND descriptor keeps lines whole even
        // when another process appends to the same file.
        ssize_t ignored = write(g_fileFd, line.data(), line.size());
        (void)ignored;
    }
}

const char* LevelName(LogLevel level) {
    switch (level) {
        case LogLevel::Error: return "ERROR";
        case LogLevel::Warning: return "WARNING";
        case LogLevel::Info: return "INFO";
    }
    return "INFO";
}

const char* BaseName(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

}  // namespace

void Log(LogLevel level, const wxString& text) {
    static const int kPriority[] = {3, 4, 6};  // err, warning, info
    const int index = static_cast<int>(level);
    Emit(index, kPriority[index], " " + std::string(LevelName(level)) + " " + std::string(text.utf8_str()) + "\n");
}

void LogSetTraceCategories(const std::string& list) {
    TraceSwitches& s = Switches();
    std::unique_lock<std::shared_mutex> guard(s.lock);
    s.categories.clear();
    bool all = false;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        std::string item = list.substr(start, comma - start);
        while (!item.empty() && isspace(static_cast<unsigned char>(item.front()))) item.erase(0, 1);
        while (!item.empty() && isspace(static_cast<unsigned char>(item.back()))) item.pop_back();
        if (item == "*") all = true;
        else if (!item.empty()) s.categories.insert(item);
        start = comma + 1;
    }
    s.all = all;
    s.any = all || !s.categories.empty();
}

bool LogTraceIsEnabled(const char* category) {
    TraceSwitches& s = Switches();
    if (!s.any.load(std::memory_order_relaxed)) return false;
    if (s.all.load(std::memory_order_relaxed)) return true;
    std::shared_lock<std::shared_mutex> guard(s.lock);
    return s.categories.count(category) != 0;
}

void LogTrace(const char* category, const char* sourcePath, int line, const char* function,
              const wxString& text) {
    char where[512];
    snprintf(where, sizeof where, " TRACE [%s] %s:%d %s: ", category, BaseName(sourcePath), line, function);
    // Traces are diagnostics asked for by name: always shown, as debug lines.
    Emit(static_cast<int>(LogLevel::Error), 7, where + std::string(text.utf8_str()) + "\n");
}

bool LogSetFile(const wxString& path, wxString& error) {
    int fd = -1;
    if (!path.empty()) {
        fd = open(path.fn_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = wxString::Format("cannot open log file %s: %s", path, strerror(errno));
            return false;
        }
    }
    std::lock_guard<std::mutex> guard(OutputLock());
    if (g_fileFd >= 0) close(g_fileFd);
    g_fileFd = fd;
    return true;
}

void LogSetStderrLevel(LogLevel least) { g_stderrLevel = static_cast<int>(least); }

}  // namespace KvoCore
