// CAttributeName: the name a class registers an attribute under, held once
// for the whole process and shared by every object of every class that uses
// it. Records are made by the thousand (a baseline makes several per file,
// an event window thousands at once), and a copy of each name in each object
// cost an allocation per attribute and most of a record's size.
//
// Names are a closed set (the registered attribute names), so the shared
// texts are never freed. Thread-safe.
#pragma once

#include <wx/string.h>

namespace KvoCore {

class CAttributeName {
public:
    // Literals: each thread remembers the text of each literal it has seen,
    // so registering from a literal allocates nothing after the first time.
    CAttributeName(const char* name);
    CAttributeName(const wchar_t* name);
    CAttributeName(const wxString& name);

    const wxString& Text() const { return *m_text; }
    operator const wxString&() const { return *m_text; }

private:
    static const wxString* Shared(const wxString& name);
    template <typename Char>
    static const wxString* SharedLiteral(const Char* name);

    const wxString* m_text;
};

}  // namespace KvoCore
