// CSqlRecordList: the list class of one record class, holding a result set.
//
// The list's element name is its table name (the member's element name + "s"),
// so a whole-list SQLLoad without a table name reads the member's own table or
// view. The list owns its members; members are created as TRecord, so the
// typed accessor is safe as long as callers Append only TRecord objects.
#pragma once

#include <cstddef>

#include <wx/string.h>

#include "core/XMLObjectList.h"

namespace KvoPluginIm {

template <typename TRecord>
class CSqlRecordList : public KvoCore::XMLObjectList {
public:
    CSqlRecordList() : KvoCore::XMLObjectList(false, false) {}

    static wxString ElementName() { return TRecord::ElementName() + wxT("s"); }
    wxString GetElementName() const override { return ElementName(); }
    wxString ChildElementName() const override { return TRecord::ElementName(); }
    KvoCore::XMLObject* CreateListElement() override { return new TRecord(); }

    TRecord& at(size_t index) const { return static_cast<TRecord&>(*Children().at(index)); }
};

}  // namespace KvoPluginIm
