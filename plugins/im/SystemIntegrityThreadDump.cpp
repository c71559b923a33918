// CSystemIntegrityThread: the baseline as a text file, "im_baseline.txt" in the
// plug-in's working directory, one line per current entity version.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>

#include <wx/filename.h>
#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/QuerySupport.h"
#include "plugins/im/SqlAttribute.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlIntegrityRule.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

using namespace QuerySupport;

namespace {

using RuleNames = std::map<long long, std::string>;

const char* const kDumpFile = "im_baseline.txt";
const char* const kHeader = "EntityId;SupercededBy;RuleID-RuleName;Type;Key;Recorded;Attributes\n";
// The attribute list was a fixed buffer of this many bytes with its terminator.
const size_t kAttributeListBytes = 4095;

bool RefuseDumpWhileScanning(const KvoCore::CDom& dom, wxString& message) {
    if (IsSet(dom, Keys::kBaselineScanRunning)) {
        message = kScanInProgress;
        KVO_TRACE(CSystemIntegrityThread::s_Trace, "DumpBaseline Baseline scan is in progress returning 0 entities");
        return true;
    }
    if (IsSet(dom, Keys::kScanRunning)) {
        message = kScanInProgress;
        KVO_TRACE(CSystemIntegrityThread::s_Trace,
                  "DumpBaseline: One or more IM scans are in progress. Returning 0 entities");
        return true;
    }
    return false;
}

// Rule id -> "identifier - name"; the separator stays even without an identifier.
RuleNames LoadRuleNames(KvoCore::CSqliteDatabase& db) {
    RuleNames names;
    wxSQLite3ResultSet rows = db.ExecuteQuery("SELECT * FROM IntegrityRules;");
    while (rows.NextRow()) {
        CSqlIntegrityRule rule;
        rule.SQLLoad(rows);
        names[rule.GetId()] = ToBytes(rule.GetIdentifier() + " - " + rule.GetName());
    }
    return names;
}

wxString DumpPath(const KvoCore::CDom& dom) {
    wxString dir = dom.GetPluginWorkdirWx("im");
    if (!dir.EndsWith(wxFileName::GetPathSeparator())) dir += wxFileName::GetPathSeparator();
    return dir + kDumpFile;
}

// whenScanned (milliseconds) as UTC in asctime's form, without its line end.
std::string ScanTimeText(long long whenScanned) {
    const time_t seconds = static_cast<time_t>(whenScanned / 1000);
    struct tm parts;
    char text[64];
    if (gmtime_r(&seconds, &parts) == nullptr || asctime_r(&parts, text) == nullptr) return std::string();
    std::string result(text);
    if (!result.empty() && result.back() == '\n') result.pop_back();
    return result;
}

// "[name=value,...]" cut as the fixed buffer cut it; empty without attributes.
std::string AttributeList(KvoCore::CSqliteDatabase& db, long long entityId) {
    wxSQLite3ResultSet rows = SelectAttributes(db, entityId);
    std::string list = "[";
    bool any = false;
    while (rows.NextRow()) {
        CSqlAttribute attribute;
        attribute.SQLLoad(rows);
        list += ToBytes(attribute.m_name) + "=" + ToBytes(attribute.m_value) + ",";
        any = true;
    }
    if (!any) return std::string();
    if (list.size() > kAttributeListBytes) list.resize(kAttributeListBytes);
    list.pop_back();
    return list + "]";
}

std::string EntityLine(KvoCore::CSqliteDatabase& db, const CSqlEntity& entity, const RuleNames& rules) {
    const auto rule = rules.find(entity.m_integrityRuleId);
    std::string line = std::to_string(entity.m_entityId) + ";";
    line +=
        entity.IsAttributeNull(&entity.m_supercededBy) ? std::string("NULL") : std::to_string(entity.m_supercededBy);
    line += ";" + (rule == rules.end() ? std::string("none") : rule->second);
    line += ";" + ToBytes(entity.m_entityType) + ";" + ToBytes(entity.m_key) + ";" + ScanTimeText(entity.m_whenScanned);
    const std::string attributes = AttributeList(db, entity.m_entityId);
    if (!attributes.empty()) line += ";" + attributes;
    return line + "\n";
}

wxSQLite3ResultSet SelectCurrentEntities(KvoCore::CSqliteDatabase& db) {
    const CSqlEntity names;
    const wxString supercededBy = names.GetAttributeName(&names.m_supercededBy);
    return db.ExecuteQuery(wxString::Format("SELECT * FROM [%ss] where [%s] is NULL or [%s]=0 ORDER BY [%s];",
                                            CSqlEntity::ElementName(), supercededBy, supercededBy,
                                            names.GetAttributeName(&names.m_entityId)));
}

struct DumpCounts {
    int written = 0;
    int total = 0;
    int skipped = 0;
};

DumpCounts WriteDump(KvoCore::CSqliteDatabase& db, wxSQLite3ResultSet& rows, const RuleNames& rules, FILE* file) {
    DumpCounts counts;
    fputs(kHeader, file);
    while (rows.NextRow()) {
        ++counts.total;
        CSqlEntity entity;
        entity.SQLLoad(rows);
        if (!IsDeliverable(entity)) {
            ++counts.skipped;
            KVO_TRACE(CSystemIntegrityThread::s_Trace, "DumpBaseline skipping GetKey %s IntegrityRuleId %d HashLen %d",
                      entity.m_key, static_cast<int>(entity.m_integrityRuleId),
                      static_cast<int>(entity.m_attributeHash.GetDataLen()));
            continue;
        }
        const std::string line = EntityLine(db, entity, rules);
        fwrite(line.data(), 1, line.size(), file);
        ++counts.written;
    }
    return counts;
}

// Closes the file on every way out.
struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};

// A dump that could not be written whole counts as none.
int RefuseUnwritable(const wxString& path, wxString& message) {
    message = wxString::Format("Cannot write %s: %s", path, strerror(errno));
    KvoCore::LogError("DumpBaseline() " + message);
    return 0;
}

}  // namespace

int CSystemIntegrityThread::DumpBaseline(KvoCore::CDom& dom, wxString& message) {
    if (RefuseDumpWhileScanning(dom, message)) return 0;
    std::unique_ptr<KvoCore::CSqliteDatabase> db = OpenQueryDb(dom);
    if (!db) {
        message = kCannotOpenDb;
        return 0;
    }
    const wxString path = DumpPath(dom);
    // Written beside the dump and renamed over it: a failure leaves the previous dump whole.
    const wxString partial = path + ".partial";
    try {
        const RuleNames rules = LoadRuleNames(*db);
        wxSQLite3ResultSet rows = SelectCurrentEntities(*db);
        std::unique_ptr<FILE, FileCloser> file(fopen(partial.fn_str(), "w"));
        if (!file) return RefuseUnwritable(partial, message);
        const DumpCounts counts = WriteDump(*db, rows, rules, file.get());
        const bool written = fflush(file.get()) == 0 && !ferror(file.get()) && fsync(fileno(file.get())) == 0;
        file.reset();
        if (!written || rename(partial.fn_str(), path.fn_str()) != 0) {
            const int error = errno;
            unlink(partial.fn_str());
            errno = error;
            return RefuseUnwritable(path, message);
        }
        KVO_TRACE(s_Trace, "DumpBaseline processed %d rows out of %d rows rowsSkipped %d tmpfile= %s", counts.written,
                  counts.total, counts.skipped, path);
        message = path;
        return counts.written;
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("DumpBaseline() error accessing si.db: %s", e.GetMessage()));
        unlink(partial.fn_str());
        message = e.GetMessage();
        return 0;
    }
}

}  // namespace KvoPluginIm
