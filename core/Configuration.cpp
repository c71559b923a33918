#include "core/Configuration.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include <wx/log.h>
#include <wx/thread.h>
#include <wx/mstream.h>
#include <wx/tokenzr.h>
#include <wx/xml/xml.h>

#include "core/Log.h"
#include "core/Utilities.h"
#include "core/XMLObject.h"

namespace KvoCore {
namespace {

const char* const kRootName = "SecurityConfiguration";

// wxXmlDocument reports parse errors (with their line) only through wxLog;
// this target keeps them for the caller instead of printing them.
class CaptureLog : public wxLog {
public:
    wxString text;

protected:
    void DoLogTextAtLevel(wxLogLevel, const wxString& msg) override {
        if (!text.empty()) text += "; ";
        text += msg;
    }
};

wxString CanonicalText(const wxString& text) {
    wxString out;
    for (wxUniChar c : text) {
        switch (c.GetValue()) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

void AppendCanonical(const wxXmlNode& node, bool isRule, wxString& out) {
    std::vector<std::pair<wxString, wxString>> attributes;
    for (const wxXmlAttribute* a = node.GetAttributes(); a; a = a->GetNext()) {
        const wxString& name = a->GetName();
        // These may change without the rule counting as changed.
        if (isRule && (name == "hash" || name == "type" || name == "confidential")) continue;
        attributes.emplace_back(name, a->GetValue());
    }
    std::sort(attributes.begin(), attributes.end());
    out << '<' << node.GetName();
    for (const auto& a : attributes) out << ' ' << a.first << "=\"" << CanonicalText(a.second) << '"';
    out << '>';
    for (const wxXmlNode* child = node.GetChildren(); child; child = child->GetNext()) {
        if (child->GetType() == wxXML_ELEMENT_NODE) {
            AppendCanonical(*child, false, out);
        } else if (child->GetType() == wxXML_TEXT_NODE || child->GetType() == wxXML_CDATA_SECTION_NODE) {
            wxString text = child->GetContent();
            text.Trim(true).Trim(false);
            out << CanonicalText(text);
        }
    }
    out << "</" << node.GetName() << '>';
}

const wxXmlNode* FindElement(const wxXmlDocument& document, const wxString& absolutePath) {
    const wxXmlNode* node = document.GetRoot();
    wxStringTokenizer parts(absolutePath, "/", wxTOKEN_STRTOK);
    if (!node || !parts.HasMoreTokens() || parts.GetNextToken() != node->GetName()) return nullptr;
    while (node && parts.HasMoreTokens()) {
        wxString name = parts.GetNextToken();
        const wxXmlNode* child = node->GetChildren();
        while (child && !(child->GetType() == wxXML_ELEMENT_NODE && child->GetName() == name))
            child = child->GetNext();
        node = child;
    }
    return node;
}

void AddRuleHashes(wxXmlNode* root) {
    for (wxXmlNode* rules = root->GetChildren(); rules; rules = rules->GetNext()) {
        if (rules->GetType() != wxXML_ELEMENT_NODE || rules->GetName() != "IntegrityRules") continue;
        for (wxXmlNode* rule = rules->GetChildren(); rule; rule = rule->GetNext()) {
            if (rule->GetType() == wxXML_ELEMENT_NODE && rule->GetName() == "IntegrityRule" &&
                !rule->HasAttribute("hash"))
                rule->AddAttribute("hash", CConfiguration::RuleHash(*rule));
        }
    }
}

}  // namespace

CConfiguration::CConfiguration() = default;
CConfiguration::~CConfiguration() = default;

bool CConfiguration::Load(const wxString& path, wxString& error) {
    std::ifstream file(std::string(path.fn_str()), std::ios::binary);
    if (!file) {
        error = wxString::Format("cannot read configuration file %s: %s", path, strerror(errno));
        return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad()) {
        error = wxString::Format("cannot read configuration file %s: %s", path, strerror(errno));
        return false;
    }
    return Parse(content.str(), path, path, error);
}

bool CConfiguration::LoadText(const wxString& text, const wxString& sourceName, wxString& error) {
    const wxScopedCharBuffer utf8 = text.utf8_str();
    return Parse(std::string(utf8.data(), utf8.length()), sourceName, wxString(), error);
}

bool CConfiguration::Parse(const std::string& bytes, const wxString& path, const wxString& filePath,
                           wxString& error) {
    wxMemoryInputStream stream(bytes.data(), bytes.size());
    auto document = std::make_shared<wxXmlDocument>();
    CaptureLog capture;
    // wxWidgets takes a per-thread log target only off the main thread.
    const bool isMain = wxThread::IsMain();
    wxLog* previous = isMain ? wxLog::SetActiveTarget(&capture) : wxLog::SetThreadActiveTarget(&capture);
    bool parsed = !bytes.empty() && document->Load(stream, "UTF-8");
    if (isMain) wxLog::SetActiveTarget(previous);
    else wxLog::SetThreadActiveTarget(previous);
    if (!parsed) {
        wxString reason = bytes.empty() ? wxString("the file is empty") : capture.text;
        if (reason.empty()) reason = "not well-formed XML";
        error = wxString::Format("configuration file %s does not parse: %s", path, reason);
        return false;
    }
    wxXmlNode* root = document->GetRoot();
    if (!root || root->GetName() != kRootName) {
        error = wxString::Format("configuration file %s: the root element is <%s>, expected <%s>", path,
                                 root ? root->GetName() : wxString(), kRootName);
        return false;
    }
    AddRuleHashes(root);
    std::lock_guard<std::mutex> guard(m_lock);
    m_document = std::move(document);
    m_path = filePath;
    return true;
}

bool CConfiguration::Reload(wxString& error) {
    wxString path = GetPath();
    if (path.empty()) {
        error = "no configuration file was loaded";
        return false;
    }
    return Load(path, error);
}

bool CConfiguration::IsLoaded() const { return Snapshot() != nullptr; }

wxString CConfiguration::GetPath() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_path;
}

std::shared_ptr<const wxXmlDocument> CConfiguration::Snapshot() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_document;
}

bool CConfiguration::GetXml(const wxString& absolutePath, XMLObject& object) const {
    auto document = Snapshot();
    if (!document) return false;
    const wxXmlNode* element = FindElement(*document, absolutePath);
    if (!element) return false;
    wxString error;
    if (!object.FromXML(element, &error)) {
        LogWarning(wxString::Format("configuration element %s: %s", absolutePath, error));
        return false;
    }
    return true;
}

bool CConfiguration::VisitElement(const wxString& absolutePath,
                                  const std::function<void(const wxXmlNode&)>& use) const {
    auto document = Snapshot();
    if (!document) return false;
    const wxXmlNode* element = FindElement(*document, absolutePath);
    if (!element) return false;
    use(*element);
    return true;
}

bool CConfiguration::GetAttribute(const wxString& elementPath, const wxString& attribute, wxString& value) const {
    auto document = Snapshot();
    if (!document) return false;
    const wxXmlNode* element = FindElement(*document, elementPath);
    return element && element->GetAttribute(attribute, &value);
}

bool CConfiguration::IsEmpty() const {
    auto document = Snapshot();
    if (!document || !document->GetRoot()) return false;
    for (const wxXmlNode* child = document->GetRoot()->GetChildren(); child; child = child->GetNext())
        if (child->GetType() == wxXML_ELEMENT_NODE) return false;
    return true;
}

wxString CConfiguration::RuleHash(const wxXmlNode& rule) {
    wxString canonical;
    AppendCanonical(rule, true, canonical);
    const wxScopedCharBuffer utf8 = canonical.utf8_str();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(utf8.data(), utf8.length(), digest, &length, EVP_sha256(), nullptr);
    return toHexString(digest, length);
}

}  // namespace KvoCore
