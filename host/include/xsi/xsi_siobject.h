// SIObject and ProjectItem: the common base of every named thing the host
// owns. A handle built from a CRef that refers to nothing (or to something
// already deleted) is invalid: getters return empty values and setters fail.
#pragma once

#include "xsi_api.h"

#include "xsi_application.h"
#include "xsi_ref.h"
#include "xsi_status.h"
#include "xsi_string.h"
#include "xsi_value.h"

namespace XSI {

class XSI_API SIObject {
 public:
  SIObject() = default;
  explicit SIObject(const CRef& ref) : ref_(ref) {}
  virtual ~SIObject() = default;

  const CRef& GetRef() const { return ref_; }
  operator CRef() const { return ref_; }  // NOLINT
  // True while the referenced thing exists.
  bool IsValid() const;

  CString GetName() const;
  CStatus PutName(const CString& name);
  // Scene objects: their name (objects live directly under the scene root).
  // Other things: their name.
  CString GetFullName() const;

 protected:
  CRef ref_;
};

class XSI_API ProjectItem : public SIObject {
 public:
  using SIObject::SIObject;

  // Parameters by name. Scene objects take "name" (text: renames the object,
  // the host keeps names unique) and the kinematic parameters of their global
  // transform ("posx" ... "sclz"). The write is recorded in the journal.
  CStatus PutParameterValue(const CString& name, const CValue& value,
                            double time = kDefaultTime);
  CValue GetParameterValue(const CString& name, double time = kDefaultTime) const;
};

}  // namespace XSI
