#include "plugins/im/ProcessSet.h"

namespace KvoPluginIm {

wxString CProcessSet::GetElementName() const { return wxT("ProcessSet"); }

wxString CProcessSet::GetAllowedAttributes() const {
    return wxT("commandLine,group,parent,path,process,threads,user,");
}

wxString CProcessSet::GetStandardAttributes() const {
    return wxT("commandLine,group,parent,path,process,user,");
}

wxString CProcessSet::GetAllowedFeatures() const { return wxT("commandLine,group,path,user,"); }

wxString CProcessSets::GetElementName() const { return wxT("ProcessSets"); }

wxString CProcessSets::ChildElementName() const { return wxT("ProcessSet"); }

KvoCore::XMLObject* CProcessSets::CreateListElement() { return new CProcessSet(); }

}  // namespace KvoPluginIm
