#include "plugins/im/QuerySupport.h"

#include <wx/strconv.h>
#include <wx/wxsqlite3.h>

#include "core/SqliteDatabase.h"
#include "core/Utilities.h"
#include "plugins/im/SqlAttribute.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {
namespace QuerySupport {

const char* const kScanInProgress = "Integrity scan in progress";
const char* const kCannotOpenDb = "Error opening integrity monitoring database.";

bool IsSet(const KvoCore::CDom& dom, const char* key) {
    bool value = false;
    return dom.Get(key, value) && value;
}

std::unique_ptr<KvoCore::CSqliteDatabase> OpenQueryDb(KvoCore::CDom& dom) {
    auto db = std::make_unique<KvoCore::CSqliteDatabase>(dom, CSystemIntegrityThread::s_Trace);
    if (!db->OpenIntegrityDb(dom.GetWxString(Keys::kDbPath), KvoCore::DbAccess::ReadWrite)) return nullptr;
    return db;
}

unsigned int TickNow() { return static_cast<unsigned int>(KvoCore::SystemTickCount()); }

unsigned int ElapsedMs(unsigned int start) { return TickNow() - start; }

bool IsDeliverable(const CSqlEntity& entity) {
    return !entity.m_key.empty() && entity.m_integrityRuleId != 0 && entity.m_attributeHash.GetDataLen() != 0;
}

wxSQLite3ResultSet SelectAttributes(wxSQLite3Database& db, long long entityId) {
    const CSqlAttribute attribute;
    return db.ExecuteQuery(wxString::Format(
        "SELECT * FROM [%ss] WHERE [%s]=%lld ORDER BY [%s];", CSqlAttribute::ElementName(),
        attribute.GetAttributeName(&attribute.m_entityId), entityId, attribute.GetAttributeName(&attribute.m_name)));
}

std::string ToBytes(const wxString& text) {
    const wxScopedCharBuffer bytes = text.mb_str(wxMBConvUTF8(wxMBConvUTF8::MAP_INVALID_UTF8_TO_PUA));
    return std::string(bytes.data(), bytes.length());
}

}  // namespace QuerySupport
}  // namespace KvoPluginIm
