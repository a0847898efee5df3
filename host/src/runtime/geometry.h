// Geometry: the one owner type of a scene object's mesh.
//
// Copies share the mesh buffer (copy-on-write). Reads never change anything;
// the only way to change a mesh is Edit() or EditTail(), which first give
// this geometry a private buffer when another holder could see the change.
//
// A merge hands an input's buffer over to its result, which appends to it
// (HandOver). The input then views only the leading part that was its own,
// so a merge costs in proportion to what is appended, not to the whole.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include "mesh.h"
#include "mesh_ops.h"

namespace host {

class Geometry {
 public:
  Geometry() = default;  // no mesh
  explicit Geometry(Mesh mesh);
  Geometry(const Geometry& other);
  Geometry(Geometry&& other) noexcept;
  Geometry& operator=(Geometry other) noexcept;
  ~Geometry();

  bool HasMesh() const { return buffer_ != nullptr; }
  // True while this geometry views the leading part of a buffer that a merge
  // result appends to.
  bool IsPrefixView() const { return prefix_.has_value(); }

  std::size_t VertexCount() const;
  std::size_t CornerCount() const;
  std::size_t FaceCount() const;

  // The mesh as it reads now, or null without a mesh. A whole buffer is
  // shared, not copied; a prefix view gets a fresh copy of its part. Holding
  // a snapshot makes a later Edit()/EditTail() of the shared buffer copy
  // first, so a snapshot never changes under its holder.
  std::shared_ptr<const Mesh> Snapshot() const;

  // The one mutation path: a mesh that only this geometry sees. Copies the
  // buffer (or this view's part of it) first when anyone else holds it.
  // Requires HasMesh().
  Mesh& Edit();
  // For a merge result changing only what was appended past the prefix
  // views of its inputs: copies first only when another holder sees the
  // whole buffer (a duplicate, a snapshot).
  Mesh& EditTail();

  // Gives a merge result this geometry's buffer to append to. When this
  // geometry is the only whole holder, the buffer is handed over and this
  // geometry becomes a view of what it holds now; otherwise the result gets
  // a private copy and this geometry is unchanged. Requires HasMesh().
  Geometry HandOver();

 private:
  struct Buffer {
    Mesh mesh;
    long prefixViews = 0;  // holders that view a leading part only
  };
  long WholeHolders() const;
  void Detach();
  void Release();

  std::shared_ptr<Buffer> buffer_;
  std::optional<MeshPrefix> prefix_;
};

}  // namespace host
