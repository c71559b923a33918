#include "agent/ChangeEvent.h"

#include <wx/tokenzr.h>

namespace KvoAgent {

wxString CChangeEvent::ChangeName(int change) {
    switch (change) {
        case Create: return "create";
        case Update: return "update";
        case Delete: return "delete";
        case Rename: return "rename";
        case Retire: return "retire";
        default: return wxString::Format("change %d", change);
    }
}

int CChangeEvent::ExitBit(int change) {
    switch (change) {
        case Create: return 1;
        case Delete: return 2;
        case Update: return 4;
        case Rename: return 8;
        default: return 0;
    }
}

namespace {

int Sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// A value that is not Base64 is shown as it stands rather than lost.
wxString DecodedOrRaw(const wxString& text) {
    std::string bytes;
    if (!CChangeEvent::DecodeBase64(std::string(text.utf8_str()), bytes)) return text;
    wxString decoded = wxString::FromUTF8(bytes.data(), bytes.size());
    // Not UTF-8 (a binary value): the Base64 text says more than nothing.
    return decoded.empty() && !bytes.empty() ? text : decoded;
}

}  // namespace

bool CChangeEvent::DecodeBase64(const std::string& text, std::string& bytes) {
    bytes.clear();
    unsigned int buffer = 0;
    int bits = 0;
    size_t end = text.size();
    while (end > 0 && text[end - 1] == '=') --end;
    if (text.size() % 4 != 0 || text.size() - end > 2) return false;
    for (size_t i = 0; i < end; ++i) {
        const int value = Sextet(text[i]);
        if (value < 0) return false;
        buffer = (buffer << 6) | static_cast<unsigned int>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return true;
}

std::vector<CChangeEvent::Attribute> CChangeEvent::DecodeDescription(const wxString& description) {
    std::vector<Attribute> attributes;
    wxStringTokenizer lines(description, "\n", wxTOKEN_STRTOK);
    while (lines.HasMoreTokens()) {
        const wxString line = lines.GetNextToken();
        // Base64 has no '_' and names no ':', so both split unambiguously.
        const wxString values = line.AfterFirst(':');
        attributes.push_back({line.BeforeFirst(':'), DecodedOrRaw(values.BeforeFirst('_')),
                              DecodedOrRaw(values.AfterFirst('_'))});
    }
    return attributes;
}

}  // namespace KvoAgent
