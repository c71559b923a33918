#include "core/hmd/HmdSources.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <wx/strconv.h>

namespace KvoCore {

bool ReadWholeFile(const char* path, std::string& content, int dirFd) {
    content.clear();
    int fd = dirFd >= 0 ? openat(dirFd, path, O_RDONLY | O_CLOEXEC) : open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[16384];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) != 0) {
        if (got < 0) {
            if (errno == EINTR) continue;
            close(fd);
            return false;
        }
        content.append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines = SplitFields(text, '\n');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

std::vector<std::string> SplitFields(const std::string& text, char separator) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        fields.push_back(text.substr(start, at - start));
    fields.push_back(text.substr(start));
    return fields;
}

std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    size_t start = 0;
    while ((start = text.find_first_not_of(" \t\n", start)) != std::string::npos) {
        size_t end = text.find_first_of(" \t\n", start);
        words.push_back(text.substr(start, end - start));
        start = end;
    }
    return words;
}

bool ParseDecimal(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 18) return false;
    long long parsed = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        parsed = parsed * 10 + (c - '0');
    }
    value = parsed;
    return true;
}

wxString BytesToText(const std::string& bytes) {
    static const wxMBConvUTF8 conv(wxMBConvUTF8::MAP_INVALID_UTF8_TO_PUA);
    return wxString(bytes.data(), conv, bytes.size());
}


static wxString FormatUtc(time_t seconds, const char* format) {
    struct tm parts;
    char text[64];
    if (!gmtime_r(&seconds, &parts) || strftime(text, sizeof text, format, &parts) == 0) return wxString();
    return wxString(text);
}

wxString IsoDay(long long daysSinceEpoch) {
    return FormatUtc(static_cast<time_t>(daysSinceEpoch * 86400), "%Y-%m-%d");
}

wxString IsoInstant(time_t seconds) { return FormatUtc(seconds, "%Y-%m-%dT%H:%M:%SZ"); }

bool ReadAccountFile(const char* path, size_t minFields, std::vector<std::vector<std::string>>& rows) {
    rows.clear();
    std::string content;
    if (!ReadWholeFile(path, content)) return false;
    for (const std::string& line : SplitLines(content)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields = SplitFields(line, ':');
        if (fields.size() >= minFields && !fields[0].empty()) rows.push_back(std::move(fields));
    }
    return true;
}

}  // namespace KvoCore
