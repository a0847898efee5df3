// CRef: a by-value reference to something the host owns (a scene object, a
// command context, a command definition, a plug-in registrar, an image clip).
// A default CRef refers to nothing; every handle built from it is invalid and
// its operations fail without changing anything.
#pragma once

#include <cstdint>

namespace XSI {

enum class siRefKind : std::uint32_t {
  None = 0,
  Object,     // scene object (X3DObject, SIObject, ProjectItem)
  Context,    // command context
  Command,    // command definition
  Registrar,  // plug-in registrar
  ImageClip,  // loaded image clip
};

class CRef {
 public:
  CRef() = default;
  CRef(siRefKind kind, std::uint64_t id) : kind_(kind), id_(id) {}

  siRefKind GetKind() const { return kind_; }
  std::uint64_t GetId() const { return id_; }
  bool IsValid() const { return kind_ != siRefKind::None && id_ != 0; }
  bool operator==(const CRef& o) const { return kind_ == o.kind_ && id_ == o.id_; }
  bool operator!=(const CRef& o) const { return !(*this == o); }

 private:
  siRefKind kind_ = siRefKind::None;
  std::uint64_t id_ = 0;
};

}  // namespace XSI
