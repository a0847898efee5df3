// Context: what the host hands a plug-in callback. During _Init its source is
// the Command being defined; during _Execute it carries "Arguments" (a
// CValueArray, by position) and takes "ReturnValue".
#pragma once

#include "xsi_api.h"

#include "xsi_siobject.h"

namespace XSI {

class XSI_API Context : public SIObject {
 public:
  using SIObject::SIObject;
  CRef GetSource() const;
  CValue GetAttribute(const CString& name) const;
  CStatus PutAttribute(const CString& name, const CValue& value);
};

}  // namespace XSI
