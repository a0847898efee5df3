// Selection: the scene's current selection, an ordered list of objects.
#pragma once

#include "xsi_api.h"

#include "xsi_ref.h"
#include "xsi_status.h"
#include "xsi_string.h"

namespace XSI {

class XSI_API Selection {
 public:
  long GetCount() const;
  // Item i, or an invalid CRef when there is none.
  CRef operator[](long index) const;
  CRef GetItem(long index) const { return (*this)[index]; }
  // Selects the objects named in a comma-separated list, in that order.
  // Names that match nothing are skipped; Fail when none matched.
  CStatus SetAsText(const CString& names);
  CString GetAsText() const;
  CStatus Clear();
};

}  // namespace XSI
