// Command, ArgumentArray, Argument: a command's definition, filled in by a
// plug-in's _Init callback. Arguments reach _Execute in declaration order.
#pragma once

#include "xsi_api.h"

#include "xsi_siobject.h"

namespace XSI {

class Argument : public SIObject {
 public:
  Argument() = default;
  Argument(const CRef& command, long index) : SIObject(command), index_(index) {}
  long GetIndex() const { return index_; }

 private:
  long index_ = -1;
};

class XSI_API ArgumentArray {
 public:
  ArgumentArray() = default;
  explicit ArgumentArray(const CRef& command) : command_(command) {}
  // Declares the next positional argument with its default value.
  Argument Add(const CString& name, const CValue& defaultValue = CValue());
  long GetCount() const;

 private:
  CRef command_;
};

class XSI_API Command : public SIObject {
 public:
  using SIObject::SIObject;
  CStatus PutDescription(const CString& text);
  CString GetDescription() const;
  CStatus EnableReturnValue(bool enable);
  ArgumentArray GetArguments() const { return ArgumentArray(ref_); }
};

}  // namespace XSI
