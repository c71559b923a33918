#include "plugins/im/RuleNames.h"

#include <wx/tokenzr.h>

namespace KvoPluginIm {

const wxString ValidAttributeNames =
    wxT("\tblocksallocated\tcannotchangepassword\tclass\tcommandline\tcontents\tcreated\tdescription\t") wxT(
        "devicenumber\tdisabled\tdisplayname\tflags\tflagsall\tfullname\tgroups\tgroup\tgrowing\t")
        wxT("homedriveletter\thomefolder\tinodegenerationnumber\tinodenumber\tinstalleddate\t") wxT(
            "installlocation\tlastaccessed\tlastmodified\tlisteners\tlockedout\tlogonscript\tlogonshell\t")
            wxT("manufacturer\tmd5\tmembers\tname\towner\tparent\tpasswordexpireddaysbeforedisabled\t")
                wxT("passwordexpiryindays\tpasswordexpiry\tpasswordhasexpired\tpasswordlastchanged\t")
                    wxT("passwordmindaysbetweenchanges\tpasswordneverexpires\tpasswordwarningdays\tpath\tperm"
                        "issions\t")
                        wxT("processid\tprocess\tprofilepath\tsecuritydescriptorsize\tsha1\tsha256\tshrinking"
                            "\tsize\t") wxT("subgroups\tsymlinkpath\tthreads\tuser\tversion\t");

const wxString ValidFeatureNames =
    wxT("\tcommandline\texecutable\tgroup\tmanufacturer\tname\tpath\tstate\tuser\twherebaseinotherset\t");

const wxString ValidEntitySetElementNames =
    wxT("\tdirectoryset\tfileset\tgroupset\tinstalledsoftwareset\tportset\tprocessset\tregistrykeyset\t")
        wxT("registryvalueset\tserviceset\tshareddirectoryset\tsysteminformationset\tuserset\twqlset\t");

bool IsListedName(const wxString& list, const wxString& name) {
    return list.Find(wxT("\t") + name.Lower() + wxT("\t")) != wxNOT_FOUND;
}

void AddStringsToSet(const wxString& list, KvoCore::WxStringSet& set) {
    wxStringTokenizer pieces(list, wxT(","), wxTOKEN_STRTOK);
    while (pieces.HasMoreTokens()) set.insert(pieces.GetNextToken().Lower());
}

}  // namespace KvoPluginIm
