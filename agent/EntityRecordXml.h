// CEntityRecordXml: the current entities of an integrity database as external
// entity records, one XML Entity element per line with its Attributes, the
// form in which `kvo-agent feed` hands entities to the running agent. It
// leaves out what only the database that recorded them may assign (ids,
// attribute hash, version links). Reads only; used on one thread.
#pragma once

#include <cstdio>
#include <map>

#include <wx/string.h>

#include "core/SqliteDatabase.h"

namespace KvoAgent {

class CEntityRecordXml {
public:
    // For records of another root: root is cut from the front of every key
    // (keys outside it are left out), and entity sets are renumbered by setIds
    // (entities of a set without a number there are left out).
    struct Rerooting {
        wxString root;
        std::map<long long, long long> setIds;
    };

    explicit CEntityRecordXml(KvoCore::CSqliteDatabase& db) : m_db(db) {}

    // Writes the records of entityType (empty: every type); the number written.
    // Database errors are thrown (wxSQLite3Exception).
    long long Print(FILE* out, const wxString& entityType = wxString(), const Rerooting* rerooting = nullptr);

    // Text as it may stand in an XML attribute value.
    static wxString Escape(const wxString& text);

private:
    // The attribute elements of the entity's row, in the order they were written.
    wxString AttributesOf(long long entityId);
    static bool Reroot(const Rerooting& rerooting, wxString& key);

    KvoCore::CSqliteDatabase& m_db;
};

}  // namespace KvoAgent
