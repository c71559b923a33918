// CIntegrityScanThread: the scanner thread framework shared by every entity
// type. The framework (steps, checkpoints, recording, events) grows here; for
// now it offers the host's path format, which the glob translation and the
// scanners share.
#pragma once

#include <wx/filename.h>

#include "core/Dom.h"

namespace KvoPluginIm {

class CIntegrityScanThread {
public:
    // The path format of the host the agent protects: wxPATH_DOS for Windows,
    // otherwise the native format.
    static wxPathFormat GetPathFormat(KvoCore::CDom& agent);
};

}  // namespace KvoPluginIm
