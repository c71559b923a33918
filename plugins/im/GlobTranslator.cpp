#include "plugins/im/GlobTranslator.h"

#include "core/Log.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

const char* const CGlobTranslator::s_Trace = Keys::kTracePattern;

namespace {

// A backslash separator must itself be escaped inside the expression.
wxString SeparatorInExpression(wxPathFormat hostFormat) {
    const wxUniChar first = wxFileName::GetPathSeparators(hostFormat)[0];
    return first == '\\' ? wxString("\\\\") : wxString(first);
}

bool IsExpressionSpecial(wxUniChar c) {
    static const wxString special("$().[]^{}");
    return special.Find(c) != wxNOT_FOUND;
}

}  // namespace

CGlobTranslator::CGlobTranslator(wxPathFormat hostFormat)
    : m_hostFormat(wxFileName::GetFormat(hostFormat)),
      m_sep(SeparatorInExpression(hostFormat)),
      m_volumeSeparator(wxFileName::GetVolumeSeparator(hostFormat)),
      m_ignoreCase(!wxFileName::IsCaseSensitive(hostFormat)) {}

wxString CGlobTranslator::Translate(const wxString& pattern, wxPathFormat splitFormat,
                                    bool matchDescendants, bool hierarchical) const {
    if (!hierarchical) return wxString();
    wxString regEx;
    if (TranslateWholeGlob(pattern, regEx)) return regEx;

    wxString glob = PrepareGlob(pattern);
    const wxString suffix = StripTrailingForm(glob);
    wxFileName split;
    split.AssignDir(glob + wxFileName::GetPathSeparator(splitFormat), splitFormat);
    AppendVolume(split, pattern, matchDescendants, regEx);
    AppendComponents(split.GetDirs(), regEx);
    if (matchDescendants)
        FinishDescendants(regEx);
    else if (glob.EndsWith("/"))
        regEx += m_sep;

    regEx = "^" + regEx + suffix + "$";
    KVO_TRACE(s_Trace, "                   regex is '%s'", regEx);
    return regEx;
}

// Globs that translate as a whole, without anchoring component by component.
bool CGlobTranslator::TranslateWholeGlob(const wxString& pattern, wxString& regEx) const {
    if (pattern.empty() || pattern == "/") {
        regEx = "^$";
        return true;
    }
    if (pattern == "**" || pattern == "**/*" || pattern == "*/**") {
        regEx = ".*";
        return true;
    }
    if (pattern == "**/") {
        regEx = "^" + AnyDirectories("*") + "$";
        return true;
    }
    return false;
}

wxString CGlobTranslator::PrepareGlob(const wxString& pattern) const {
    wxString glob = m_ignoreCase ? pattern.Lower() : pattern;
    KVO_TRACE(s_Trace, "PatternToRegEx() - pattern is '%s'", glob);
    // Adjacent directory wildcards mean no more than one.
    while (glob.Replace("**/**", "**") > 0) {
    }
    while (glob.StartsWith("/")) glob.erase(0, 1);
    return glob;
}

// Removes one trailing wildcard form from glob; returns the expression that
// stands for it at the end.
wxString CGlobTranslator::StripTrailingForm(wxString& glob) const {
    const wxString anyBelow = "(" + m_sep + ".*)*";
    const wxString someDirectories = AnyDirectories("+");
    // Tested in this order: the first form the glob ends with wins.
    const struct {
        const char* ending;
        wxString suffix;
    } forms[] = {
        {"*/**", ".*"},
        {"/**", anyBelow},
        {"/**/*", anyBelow},
        {"/**/", someDirectories},
        {"/**/*/", someDirectories},
    };
    wxString rest;
    for (const auto& form : forms) {
        if (glob.EndsWith(form.ending, &rest)) {
            glob = rest;
            return form.suffix;
        }
    }
    return wxString();
}

void CGlobTranslator::AppendVolume(const wxFileName& split, const wxString& pattern,
                                   bool matchDescendants, wxString& regEx) const {
    if (!split.HasVolume()) return;
    // wxWidgets keeps a share's leading backslashes in the volume; the two
    // separators written for a network share stand for them.
    wxString volume = split.GetVolume();
    volume.erase(0, volume.find_first_not_of(wxFileName::GetPathSeparators(wxPATH_DOS)));
    if (m_hostFormat == wxPATH_DOS && matchDescendants && pattern.StartsWith("\\"))
        regEx << m_sep << m_sep << volume;
    else
        regEx << volume << m_volumeSeparator;
}

void CGlobTranslator::AppendComponents(const wxArrayString& components, wxString& regEx) const {
    // A directory wildcard already ends in a separator.
    bool afterAnyDirectories = false;
    for (const wxString& component : components) {
        if (!regEx.empty() && !afterAnyDirectories) regEx += m_sep;
        afterAnyDirectories = component == "**";
        if (afterAnyDirectories)
            regEx += AnyDirectories("*");
        else
            AppendComponent(component, regEx);
    }
}

void CGlobTranslator::AppendComponent(const wxString& component, wxString& regEx) const {
    const wxString withinComponent = "[^" + m_sep + "]";
    const size_t length = component.length();
    for (size_t i = 0; i < length; ++i) {
        const wxUniChar c = component[i];
        if (c == '*') {
            regEx << "(" << withinComponent << "*)";
        } else if (c == '?') {
            regEx << "(" << withinComponent << "{1})";
        } else if (c == '\\') {
            // Escapes the next character; a lone trailing backslash escapes nothing.
            if (++i < length) regEx << '\\' << component[i];
        } else if (IsExpressionSpecial(c)) {
            regEx << '\\' << c;
        } else {
            regEx << c;
        }
    }
}

void CGlobTranslator::FinishDescendants(wxString& regEx) const {
    regEx << "(" << m_sep << ".+)?";
    // Base directories are absolute; without volumes that means a leading separator.
    if (m_volumeSeparator.empty() && !regEx.StartsWith(m_sep)) regEx.Prepend(m_sep);
}

wxString CGlobTranslator::AnyDirectories(const wxString& repeat) const {
    return "([^" + m_sep + "]*" + m_sep + ")" + repeat;
}

}  // namespace KvoPluginIm
