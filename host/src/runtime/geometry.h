// Geometry: the one owner type of a scene object's mesh, and the one place
// where the sharing of meshes is counted and copy-on-write happens.
//
// Ownership rules of the host's geometry (mesh.h, mesh_ops.h and
// weld_index.h are plain data and functions and state none of their own):
//
// - A mesh buffer is counted by one reference count, its shared_ptr's. Its
//   holders are whole holders (Geometry copies, Snapshot() results) and
//   prefix views (inputs of a merge that appends to the buffer); the buffer
//   tallies which of its holders are prefix views.
// - Reads never change anything: every const member leaves the buffer, its
//   count and every holder as they were.
// - Edit() changes the whole mesh and copies first unless this geometry is
//   the buffer's only holder. EditTail() gives a handle (MeshTail) that
//   changes only what lies past the part the prefix views read; it copies
//   first only when another whole holder sees the buffer.
// - A merge hands an input's buffer over to its result (HandOver). The input
//   then views only the leading part that was its own, so a merge costs in
//   proportion to what is appended, not to the whole.
// - A weld index is not part of a mesh. The merge operator that welds a
//   result keeps it (scene.h, MergeOperator::weld), next to the geometry it
//   indexes, and hands it to the next merge that takes that buffer over.
//   Whoever changes the indexed positions other than through the merge
//   re-hashes the index (TranslateMesh) or drops it.
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

  // A mesh that only this geometry sees, to change as a whole. Copies the
  // buffer (or this view's part of it) first when anyone else holds it.
  // Requires HasMesh().
  Mesh& Edit();
  // For a merge result changing only what was appended past the prefix
  // views of its inputs: copies first only when another whole holder sees
  // the buffer (a duplicate, a snapshot), or when this is a prefix view.
  // Use the handle at once; it refers to this geometry. Requires HasMesh().
  MeshTail EditTail();

  // True when HandOver() would hand this geometry's buffer over rather
  // than copy it: this is the buffer's only whole holder.
  bool CanHandOver() const;
  // Gives a merge result this geometry's buffer to append to. When
  // CanHandOver(), the buffer is handed over and this geometry becomes a
  // view of what it holds now; otherwise the result gets a private copy and
  // this geometry is unchanged. Requires HasMesh().
  Geometry HandOver();

 private:
  struct Buffer {
    Mesh mesh;
    long prefixViews = 0;  // how many of the holders view a leading part only
    MeshPrefix frozen;     // the part the prefix views read
  };
  long WholeHolders() const;
  void Detach();
  void Release();
  Mesh& ClaimWhole();

  std::shared_ptr<Buffer> buffer_;
  std::optional<MeshPrefix> prefix_;
};

}  // namespace host
