// CConfiguration: the agent's configuration file, parsed once and replaced
// whole on a successful reload.
//
// Every IntegrityRule element without a "hash" attribute gets one: the SHA-256
// of the rule's canonical form, so that editing a rule counts as a change but
// reformatting it, reordering its attributes or changing only its type or
// confidential flag does not. A file that fails to load leaves the document in
// force untouched. Thread-safe: readers work on a snapshot.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <wx/string.h>

class wxXmlDocument;
class wxXmlNode;

namespace KvoCore {

class XMLObject;

class CConfiguration {
public:
    CConfiguration();
    ~CConfiguration();
    CConfiguration(const CConfiguration&) = delete;
    CConfiguration& operator=(const CConfiguration&) = delete;

    // Reads and parses the file. On failure returns false with a message that
    // names the file, what is wrong and, where the parser gives it, the line.
    bool Load(const wxString& path, wxString& error);
    // Parses XML text as if it were the file's content (sourceName names it in errors).
    bool LoadText(const wxString& text, const wxString& sourceName, wxString& error);
    bool Reload(wxString& error);
    bool IsLoaded() const;
    wxString GetPath() const;

    // Parses the element at an absolute path ("/SecurityConfiguration/IntegrityRules")
    // into object. False when nothing is loaded, the element is absent, or
    // parsing fails.
    bool GetXml(const wxString& absolutePath, XMLObject& object) const;
    // Calls use with the element at an absolute path, as parsed (line numbers
    // included); false when nothing is loaded or the element is absent.
    bool VisitElement(const wxString& absolutePath, const std::function<void(const wxXmlNode&)>& use) const;
    // False when the element or its attribute is absent.
    bool GetAttribute(const wxString& elementPath, const wxString& attribute, wxString& value) const;
    // True only for a loaded document whose root element has no child elements.
    bool IsEmpty() const;

    // The lower-case hex SHA-256 of an IntegrityRule element's canonical form.
    static wxString RuleHash(const wxXmlNode& rule);

private:
    bool Parse(const std::string& bytes, const wxString& sourceName, const wxString& filePath, wxString& error);
    std::shared_ptr<const wxXmlDocument> Snapshot() const;

    mutable std::mutex m_lock;
    std::shared_ptr<const wxXmlDocument> m_document;
    wxString m_path;
};

}  // namespace KvoCore
