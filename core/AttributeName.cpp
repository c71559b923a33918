#include "core/AttributeName.h"

#include <mutex>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>

namespace KvoCore {
namespace {

// Literals are compared by content as well as by address: a caller's buffer
// may hold another name at the same address later. Names are ASCII; a byte
// beyond it only fails the comparison, and the name is then looked up again.
template <typename Char>
bool SameText(const wxString& text, const Char* name) {
    const auto wide = text.wc_str();  // a pointer here; a buffer kept alive where wx stores UTF-8
    size_t i = 0;
    for (; name[i] != 0 && wide[i] != 0; ++i)
        if (static_cast<wchar_t>(static_cast<std::make_unsigned_t<Char>>(name[i])) != wide[i]) return false;
    return name[i] == 0 && wide[i] == 0;
}

}  // namespace

CAttributeName::CAttributeName(const char* name) : m_text(SharedLiteral(name)) {}
CAttributeName::CAttributeName(const wchar_t* name) : m_text(SharedLiteral(name)) {}
CAttributeName::CAttributeName(const wxString& name) : m_text(Shared(name)) {}

const wxString* CAttributeName::Shared(const wxString& name) {
    // Never destroyed: objects of static lifetime may name attributes until
    // the very end of the process.
    static std::mutex* lock = new std::mutex;
    static std::unordered_set<wxString>* texts = new std::unordered_set<wxString>;
    std::lock_guard<std::mutex> guard(*lock);
    return &*texts->insert(name).first;
}

template <typename Char>
const wxString* CAttributeName::SharedLiteral(const Char* name) {
    thread_local std::unordered_map<const Char*, const wxString*> seen;
    const wxString*& text = seen[name];
    if (text == nullptr || !SameText(*text, name)) text = Shared(wxString(name));
    return text;
}

}  // namespace KvoCore
