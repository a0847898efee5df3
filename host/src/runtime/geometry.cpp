#include "geometry.h"

#include <utility>

namespace host {

Geometry::Geometry(Mesh mesh) : buffer_(std::make_shared<Buffer>()) {
  buffer_->mesh = std::move(mesh);
}

Geometry::Geometry(const Geometry& other) : buffer_(other.buffer_), prefix_(other.prefix_) {
  if (buffer_ && prefix_) ++buffer_->prefixViews;
}

Geometry::Geometry(Geometry&& other) noexcept
    : buffer_(std::move(other.buffer_)), prefix_(std::move(other.prefix_)) {
  other.prefix_.reset();
}

Geometry& Geometry::operator=(Geometry other) noexcept {
  Release();
  buffer_ = std::move(other.buffer_);
  prefix_ = std::move(other.prefix_);
  other.prefix_.reset();
  return *this;
}

Geometry::~Geometry() { Release(); }

void Geometry::Release() {
  if (buffer_ && prefix_) --buffer_->prefixViews;
  buffer_.reset();
  prefix_.reset();
}

long Geometry::WholeHolders() const { return buffer_.use_count() - buffer_->prefixViews; }

std::size_t Geometry::VertexCount() const {
  if (!buffer_) return 0;
  return prefix_ ? prefix_->vertices : buffer_->mesh.VertexCount();
}

std::size_t Geometry::CornerCount() const {
  if (!buffer_) return 0;
  return prefix_ ? prefix_->corners : buffer_->mesh.CornerCount();
}

std::size_t Geometry::FaceCount() const {
  if (!buffer_) return 0;
  return prefix_ ? prefix_->faces : buffer_->mesh.FaceCount();
}

std::shared_ptr<const Mesh> Geometry::Snapshot() const {
  if (!buffer_) return nullptr;
  if (prefix_) return std::make_shared<const Mesh>(CopyPrefix(buffer_->mesh, *prefix_));
  return std::shared_ptr<const Mesh>(buffer_, &buffer_->mesh);
}

void Geometry::Detach() {
  Mesh copy = prefix_ ? CopyPrefix(buffer_->mesh, *prefix_) : buffer_->mesh;
  Release();
  buffer_ = std::make_shared<Buffer>();
  buffer_->mesh = std::move(copy);
}

Mesh& Geometry::Edit() {
  if (prefix_ || buffer_.use_count() > 1) Detach();
  buffer_->frozen = MeshPrefix{};  // no one else reads any part of it
  return buffer_->mesh;
}

MeshTail Geometry::EditTail() {
  if (prefix_ || WholeHolders() > 1) Detach();
  if (buffer_->prefixViews == 0) buffer_->frozen = MeshPrefix{};
  return MeshTail(buffer_->mesh, buffer_->frozen, [this]() -> Mesh& { return ClaimWhole(); });
}

Mesh& Geometry::ClaimWhole() {
  if (buffer_->prefixViews > 0) Detach();
  buffer_->frozen = MeshPrefix{};
  return buffer_->mesh;
}

bool Geometry::CanHandOver() const { return buffer_ && !prefix_ && WholeHolders() == 1; }

Geometry Geometry::HandOver() {
  if (!CanHandOver()) return Geometry(*Snapshot());
  Geometry result;
  result.buffer_ = buffer_;
  prefix_ = PrefixOf(buffer_->mesh);
  buffer_->frozen = *prefix_;
  ++buffer_->prefixViews;
  return result;
}

}  // namespace host
