#include "plugins/im/SqlEntitySet.h"

namespace KvoPluginIm {

CSqlEntitySet::CSqlEntitySet() {
    UseNullDefaults();
    AddAttribute(wxT("entitySetId"), &m_entitySetId, 0, true);
    AddAttribute(wxT("integrityRuleId"), &m_integrityRuleId, 0, false);
    AddAttribute(wxT("onChange"), &m_onChange, true);
}

const wxString& CSqlEntitySet::GetSearchBase() const {
    static const wxString noSearchBase;
    return noSearchBase;
}

const CRecordRegEx* CSqlEntitySet::GetSearchRegEx() const { return nullptr; }

bool CSqlEntitySet::HasHierarchicalNames() const { return false; }

}  // namespace KvoPluginIm
