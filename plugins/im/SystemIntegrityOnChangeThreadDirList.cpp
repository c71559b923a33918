// What the real-time engine must watch: the search bases of the on-change
// directory and file sets, and for sets based at the root (which nobody can
// watch whole) the extensions their patterns name.
#include <wx/filename.h>
#include <wx/strconv.h>

#include "core/Log.h"
#include "plugins/im/SqlDirectoryEntitySet.h"
#include "plugins/im/StateKeys.h"
#include "plugins/im/SystemIntegrityOnChangeThread.h"

namespace KvoPluginIm {

namespace {

void Append(lua_State* L, int table, const wxString& text) {
    const wxScopedCharBuffer bytes = text.mb_str(wxMBConvUTF8(wxMBConvUTF8::MAP_INVALID_UTF8_TO_PUA));
    lua_pushlstring(L, bytes.data(), bytes.length());
    lua_rawseti(L, table, static_cast<int>(lua_rawlen(L, table)) + 1);
}

bool IsRoot(const wxString& base) { return base.empty() || wxFileName::DirName(base).GetDirCount() == 0; }

const CSqlDirectoryEntitySet* DirectorySet(const CEntitySetInfo& info) {
    const auto* set = dynamic_cast<const CSqlDirectoryEntitySet*>(info.GetSet());
    return set != nullptr && set->m_onChange ? set : nullptr;
}

}  // namespace

int CSystemIntegrityOnChangeThread::GetDirList(lua_State* L) {
    lua_settop(L, 3);
    for (int table : {2, 3}) {
        if (lua_istable(L, table)) continue;
        lua_newtable(L);
        lua_replace(L, table);
    }
    AddSearchBaseToTable(L, 2, m_directoryTypeInfo);
    AddSearchBaseToTable(L, 2, m_fileTypeInfo);
    AddRootExtensionsToTable(L, 2, m_directoryTypeInfo);
    AddRootExtensionsToTable(L, 3, m_fileTypeInfo);
    return 2;
}

void CSystemIntegrityOnChangeThread::AddSearchBaseToTable(lua_State* L, int table, const CEntityTypeInfo& info) const {
    for (const auto& setInfo : info.GetEntitySetInfos()) {
        const CSqlDirectoryEntitySet* set = DirectorySet(*setInfo);
        if (set == nullptr) continue;
        wxString base = set->m_directorySearchBase;
        KVO_TRACE(Keys::kTraceCb, "searchBase %s, rawDirectory %s, regExDirectory %s", base, set->m_directory,
                  set->m_directoryRegEx);
        if (IsRoot(base) && !set->m_directoryRegEx.empty()) {
            const wxString full = set->m_directoryRegEx.BeforeFirst('(');
            const wxString prefix = full.AfterFirst('^');
            KVO_TRACE(Keys::kTraceCb, "regExPrefix is %s full prefix %s", prefix, full);
            if (!IsRoot(prefix)) {
                KVO_TRACE(Keys::kTraceCb, "using regex prefix as search base %s", prefix);
                base = prefix;
            }
        }
        if (IsRoot(base)) {
            KVO_TRACE(Keys::kTraceCb, "Excluding root directory %s", base);
            continue;
        }
        if (base.Last() != m_separator) base += m_separator;
        Append(L, table, base);
    }
}

void CSystemIntegrityOnChangeThread::AddRootExtensionsToTable(lua_State* L, int table,
                                                              const CEntityTypeInfo& info) const {
    for (const auto& setInfo : info.GetEntitySetInfos()) {
        const CSqlDirectoryEntitySet* set = DirectorySet(*setInfo);
        if (set == nullptr || !IsRoot(set->m_directorySearchBase)) continue;
        KVO_TRACE(Keys::kTracePattern, "FullPath %s", set->m_directorySearchBase);
        const CSqlIncludeExcludePatterns& patterns = setInfo->GetPatterns();
        for (size_t i = 0; i < patterns.size(); ++i) {
            const CSqlIncludeExcludePattern& pattern = patterns.at(i);
            if (pattern.m_exclude) continue;
            KVO_TRACE(Keys::kTracePattern, "Pattern %s", pattern.m_pattern);
            const wxFileName name(pattern.m_pattern);
            if (!name.GetExt().empty())
                Append(L, table, name.GetExt());
            else if (name.GetFullName().StartsWith("."))
                Append(L, table, name.GetFullName().Mid(1));
        }
    }
}

}  // namespace KvoPluginIm
