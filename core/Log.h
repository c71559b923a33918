// Process-wide logging of the agent: error, warning and info lines, and trace
// lines whose categories are switched on by name.
//
// Every line goes to stderr and, once a log file is set, to that file. All
// functions are thread-safe. A trace line is only built when its category is
// enabled, so callers test LogTraceIsEnabled (or use KVO_TRACE) first.
#pragma once

#include <string>
#include <wx/string.h>

namespace KvoCore {

enum class LogLevel { Error, Warning, Info };

void Log(LogLevel level, const wxString& text);
inline void LogError(const wxString& text) { Log(LogLevel::Error, text); }
inline void LogWarning(const wxString& text) { Log(LogLevel::Warning, text); }
inline void LogInfo(const wxString& text) { Log(LogLevel::Info, text); }

// Comma list of categories; "*" enables all. Replaces the earlier list.
void LogSetTraceCategories(const std::string& list);
bool LogTraceIsEnabled(const char* category);
void LogTrace(const char* category, const char* sourcePath, int line, const char* function,
              const wxString& text);

// Appends every later line to this file as well (empty path: stderr only).
// Returns false, with the reason in error, when the file cannot be opened.
bool LogSetFile(const wxString& path, wxString& error);
// Lines below this level are not written to stderr (they still reach the file).
void LogSetStderrLevel(LogLevel least);

}  // namespace KvoCore

// Builds and writes a trace line only when the category is on.
#define KVO_TRACE(category, ...)                                                         \
    do {                                                                                 \
        if (::KvoCore::LogTraceIsEnabled(category))                                      \
            ::KvoCore::LogTrace(category, __FILE__, __LINE__, __func__,                  \
                                wxString::Format(__VA_ARGS__));                          \
    } while (0)
