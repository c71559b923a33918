// CChangeEvent: one integrity event as `kvo-agent check` reports it: what
// changed, on which key, when, and for an update the attributes with their
// old and new values in readable form. Built from an event row (event mode 1)
// or a JSON event (mode 2); a plain value.
#pragma once

#include <string>
#include <vector>

#include <wx/string.h>

namespace KvoAgent {

class CChangeEvent {
public:
    // The plug-in's change codes.
    // Retire: the current versions of a changed or removed rule's entities were retired.
    enum Change { Create = 1, Update = 2, Delete = 3, Rename = 4, Retire = 5 };
    struct Attribute {
        wxString name;
        wxString oldValue;
        wxString newValue;
    };

    long long id = 0;
    int change = 0;
    long long timeMs = 0;
    long long ruleId = 0;
    long long severity = 0;
    wxString entityType;
    wxString key;  // a rename's: old key, " -> ", new key
    wxString ruleName;  // when the report names rules
    // Who made a real-time change, and with what; several, one per line.
    wxString user;
    wxString process;
    std::vector<Attribute> attributes;

    // "create", "update", ...; "change <n>" for a code this agent does not report.
    static wxString ChangeName(int change);
    // The exit-status bit of a change: create 1, delete 2, update 4, rename 8; 0 for others.
    static int ExitBit(int change);
    // An update's description: one "name:base64(old)_base64(new)" line per attribute.
    static std::vector<Attribute> DecodeDescription(const wxString& description);
    static bool DecodeBase64(const std::string& text, std::string& bytes);
};

}  // namespace KvoAgent
