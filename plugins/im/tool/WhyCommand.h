// CWhyCommand: `kvo-rules rules --why KEY... [--type TYPE]`: for each key,
// the entity sets a scan would record it in, or for every set of its type why
// not. It asks the type's own scanner for its key matcher and set records and
// follows the walk's decisions for the one key (search base, the directories
// the walk enters, its depth limit, links), so its answer is the scan's.
//
// Reads the rules stored at Keys::kDbPath (the plan's scratch copy).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <wx/string.h>

#include "core/Dom.h"

class wxSQLite3Database;

namespace KvoCore {
class XMLObjectList;
}

namespace KvoPluginIm {

class CEntitySetInfo;
class CIntegrityScanThread;
class CSqlDirectoryEntitySet;
class CSystemIntegrityKeyMatch;

class CWhyCommand {
public:
    // type: an entity type name, or empty to take Directory for a directory
    // and File for anything else.
    CWhyCommand(KvoCore::CDom& dom, const wxString& type) : m_dom(dom), m_type(type) {}

    // Prints the answer for each key; false, with the reason, when the type
    // has no scanner or the database cannot be read.
    bool Run(const std::vector<std::string>& keys, wxString& error);

private:
    bool Explain(wxSQLite3Database& db, const wxString& key, const wxString& type, wxString& error);
    // Empty when the walk would record key in the set, else why not.
    wxString WhyNotInTree(const CSystemIntegrityKeyMatch& matcher, const KvoCore::XMLObjectList& sets,
                          const CEntitySetInfo& info, const wxString& key, bool isDirectory) const;
    wxString WhyNotObject(CIntegrityScanThread& scanner, const KvoCore::XMLObjectList& sets,
                          const CEntitySetInfo& info, const wxString& key) const;
    // Why the matcher refuses key below searchBase: no Include, or which Exclude.
    static wxString WhyNotMatched(const CSystemIntegrityKeyMatch& matcher, const KvoCore::XMLObjectList& sets,
                                  const CEntitySetInfo& info, const wxString& searchBase, const wxString& key,
                                  unsigned long datum);
    static wxString GroupText(const CEntitySetInfo& info, long long id, bool exclude);
    static wxString ReasonText(int reason);

    KvoCore::CDom& m_dom;
    wxString m_type;
};

}  // namespace KvoPluginIm
