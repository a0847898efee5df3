#pragma once

// The user's selection, saved and put back around work that changes it.

#include <xsi_application.h>
#include <xsi_selection.h>
#include <xsi_string.h>

namespace raisetower {

// The selection as it was when this was made; Restore() puts it back
// (an empty selection is put back as a cleared one).
class SavedSelection {
 public:
  SavedSelection() : text_(XSI::Application().GetSelection().GetAsText()) {}

  void Restore() const {
    XSI::Selection selection = XSI::Application().GetSelection();
    if (text_.IsEmpty()) {
      selection.Clear();
    } else {
      selection.SetAsText(text_);
    }
  }

 private:
  XSI::CString text_;
};

}  // namespace raisetower
