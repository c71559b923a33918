#include "plugins/im/ServiceSet.h"

namespace KvoPluginIm {

wxString CServiceSet::GetElementName() const { return wxT("ServiceSet"); }

wxString CServiceSet::GetAllowedAttributes() const {
    return wxT(
        "binaryPathName,dependsOn,description,displayName,firstFailure,group,loadOrderGroup,"
        "logOnAs,owner,permissions,processId,rebootMessage,resetFailCountAfter,runProgram,"
        "secondFailure,startType,state,subsequentFailures,");
}

wxString CServiceSet::GetStandardAttributes() const {
    return wxT(
        "binaryPathName,dependsOn,description,firstFailure,group,loadOrderGroup,logOnAs,owner,"
        "permissions,processId,resetFailCountAfter,runProgram,secondFailure,startType,state,"
        "subsequentFailures,");
}

wxString CServiceSet::GetAllowedFeatures() const { return wxT("state,"); }

wxString CServiceSets::GetElementName() const { return wxT("ServiceSets"); }

wxString CServiceSets::ChildElementName() const { return wxT("ServiceSet"); }

KvoCore::XMLObject* CServiceSets::CreateListElement() { return new CServiceSet(); }

}  // namespace KvoPluginIm
