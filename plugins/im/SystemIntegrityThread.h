// CSystemIntegrityThread: the control thread of integrity monitoring.
//
// One instance per agent, created from Lua ("SLB.im.ImThread"); it is not a
// thread class of its own but runs on whatever agent thread calls main().
// Members are added as the control loop, settings, orchestration, queries and
// rule handling are built.
#pragma once

#include <wx/filename.h>
#include <wx/string.h>

#include "core/Dom.h"

namespace KvoPluginIm {

class CSystemIntegrityThread {
public:
    CSystemIntegrityThread();
    ~CSystemIntegrityThread();
    CSystemIntegrityThread(const CSystemIntegrityThread&) = delete;
    CSystemIntegrityThread& operator=(const CSystemIntegrityThread&) = delete;

    // The anchored regular expression of a glob (see CGlobTranslator), for
    // this agent's host path format.
    wxString PatternToRegEx(const wxString& pattern, wxPathFormat splitFormat, bool matchDescendants,
                            bool hierarchical) const;

    static const char* const s_Trace;  // "zel.im.ImThread"

private:
    KvoCore::CDom m_dom;
};

}  // namespace KvoPluginIm
