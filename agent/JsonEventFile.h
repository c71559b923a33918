// CJsonEventFile: the integrity events that event mode 2 appended as JSON
// lines to a file (<workdir>/events.jsonl) from a given offset on. Lines of
// other sources, and lines that do not parse, are passed over. Not thread-safe.
#pragma once

#include <string>
#include <vector>

#include "agent/ChangeEvent.h"

struct cJSON;

namespace KvoAgent {

class CJsonEventFile {
public:
    explicit CJsonEventFile(std::string path);

    // The file's size now: the offset from which later events will be read.
    long long Size() const;
    // The events of the whole lines from offset on; offset moves past them, so
    // that a line still being written is read by the next call. False with the
    // reason in error when the file cannot be read; a file that does not
    // exist holds no events.
    bool Read(long long& offset, std::vector<CChangeEvent>& events, std::string& error) const;
    // One JSON event; false when the line is not an integrity event.
    static bool Parse(const std::string& line, CChangeEvent& event);

private:
    static void ReadChangedAttributes(const cJSON* root, CChangeEvent& event);

    const std::string m_path;
};

}  // namespace KvoAgent
