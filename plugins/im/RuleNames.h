// The names a rule may use anywhere, whatever the kind of set or the host:
// they tell a name that this kind or platform does not offer (unsupported)
// from one that does not exist at all (unrecognised).
//
// Each list is lower-case, every entry enclosed by tab characters, so that a
// lookup is a search for tab + name + tab. Built once at load time.
#pragma once

#include <wx/string.h>

#include "core/Utilities.h"

namespace KvoPluginIm {

extern const wxString ValidAttributeNames;
extern const wxString ValidFeatureNames;
extern const wxString ValidEntitySetElementNames;

// True when name, lower-cased, is an entry of one of the lists above.
bool IsListedName(const wxString& list, const wxString& name);

// Splits a comma list (empty pieces skipped), lower-cases each piece and
// inserts it into set.
void AddStringsToSet(const wxString& list, KvoCore::WxStringSet& set);

}  // namespace KvoPluginIm
