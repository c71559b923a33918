#include "agent/ChangeSource.h"

#include "agent/RealtimePlatform.h"

namespace KvoAgent {

void CChangeSource::ForEachCovered(const CWatchList& list, const std::string& dir,
                                   const std::function<void(const std::string&)>& report) {
    for (const auto& entry : CRealtimePlatform::Entries(dir)) {
        if (list.Covers(entry)) report(entry);
        if (entry.back() == '/') ForEachCovered(list, entry, report);
    }
}

}  // namespace KvoAgent
