// CSystemIntegrityThread: glob translation for the stored rule expressions.
#include "plugins/im/GlobTranslator.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {

wxString CSystemIntegrityThread::PatternToRegEx(const wxString& pattern, wxPathFormat splitFormat,
                                                bool matchDescendants, bool hierarchical) const {
    // Copies of the agent object share the agent; the copy lets a const member ask it.
    KvoCore::CDom agent(m_dom);
    const CGlobTranslator translator(CIntegrityScanThread::GetPathFormat(agent));
    return translator.Translate(pattern, splitFormat, matchDescendants, hierarchical);
}

}  // namespace KvoPluginIm
