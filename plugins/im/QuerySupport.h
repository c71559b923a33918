// Helpers shared by the query members of CSystemIntegrityThread (entities,
// events, status, baseline dump). Each query runs on its caller's thread with
// a connection of its own, so nothing here keeps state.
#pragma once

#include <memory>
#include <string>

#include <wx/string.h>

#include "core/Dom.h"
#include "plugins/im/StateKeys.h"

class wxSQLite3Database;
class wxSQLite3ResultSet;

namespace KvoCore {
class CSqliteDatabase;
}

namespace KvoPluginIm {

class CSqlEntity;

namespace QuerySupport {

// "Integrity scan in progress" and "Error opening integrity monitoring database."
extern const char* const kScanInProgress;
extern const char* const kCannotOpenDb;

// A switch of the state store; absent (or not a bool) counts as false.
bool IsSet(const KvoCore::CDom& dom, const char* key);

// A connection of the caller's own on the file named by Keys::kDbPath;
// null when it cannot be opened (the reason is logged by the database layer).
std::unique_ptr<KvoCore::CSqliteDatabase> OpenQueryDb(KvoCore::CDom& dom);

// Milliseconds since start, both from SystemTickCount (wraps at 32 bits).
unsigned int ElapsedMs(unsigned int start);
unsigned int TickNow();

// A row only scanners have half written (no key, no rule or no attribute
// hash yet) is neither delivered nor dumped.
bool IsDeliverable(const CSqlEntity& entity);

// The attribute rows of one entity version, ordered by name.
wxSQLite3ResultSet SelectAttributes(wxSQLite3Database& db, long long entityId);

// The multibyte text of the agent (UTF-8; file-name bytes that are not UTF-8
// come back as they were found).
std::string ToBytes(const wxString& text);

}  // namespace QuerySupport

}  // namespace KvoPluginIm
