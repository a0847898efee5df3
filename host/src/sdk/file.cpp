// AtomicFile: the runtime's AtomicFileWriter behind the plug-in boundary.
#include "xsi_file.h"

#include <new>
#include <string>

#include "safe_file.h"

namespace XSI {

struct AtomicFile::Impl {
  host::AtomicFileWriter writer;
  std::string path;  // as given, for messages
};

namespace {

void SetMessage(CString& message, const std::string& text) noexcept {
  try {
    message = CString::FromUtf8(text);
  } catch (...) {
    // No memory even for the message: the status says it.
  }
}

// Runs one step of the writer (a bool(std::string& reason) call). When it
// fails or throws, the file is abandoned and `message` says why; after a
// successful last step too, the writer is let go.
template <class ImplPtr, class Step>
CStatus RunStep(ImplPtr& impl, bool last, const char* doing, CString& message, Step&& step) noexcept {
  CStatus status = CStatus::OK;
  try {
    std::string reason;
    if (!step(reason)) {
      status = CStatus::Fail;
      SetMessage(message, "'" + host::PrintablePath(impl->path) + "' " + reason);
    }
  } catch (const std::bad_alloc&) {
    status = CStatus::OutOfMemory;
    SetMessage(message, std::string("out of memory while ") + doing + " a file");
  } catch (...) {
    status = CStatus::Fail;
    SetMessage(message, std::string("unexpected failure while ") + doing + " a file");
  }
  if (!status.Succeeded() || last) {
    delete impl;
    impl = nullptr;
  }
  return status;
}

}  // namespace

AtomicFile::~AtomicFile() { delete impl_; }

CStatus AtomicFile::Begin(std::string_view path, CString& message) noexcept {
  delete impl_;
  impl_ = new (std::nothrow) Impl;
  if (!impl_) {
    SetMessage(message, "out of memory while opening a file");
    return CStatus::OutOfMemory;
  }
  return RunStep(impl_, false, "opening", message, [&](std::string& reason) {
    impl_->path.assign(path.data(), path.size());
    return impl_->writer.Begin(impl_->path, reason);
  });
}

CStatus AtomicFile::Write(const void* data, std::size_t size, CString& message) noexcept {
  if (!impl_) {
    SetMessage(message, "no file is open for writing");
    return CStatus::Fail;
  }
  if (size == 0) return CStatus::OK;
  if (!data) {
    delete impl_;
    impl_ = nullptr;
    SetMessage(message, "no bytes to write (a null pointer)");
    return CStatus::InvalidArgument;
  }
  return RunStep(impl_, false, "writing", message, [&](std::string& reason) {
    return impl_->writer.Write(std::string_view(static_cast<const char*>(data), size), reason);
  });
}

CStatus AtomicFile::Commit(CString& message) noexcept {
  if (!impl_) {
    SetMessage(message, "no file is open for writing");
    return CStatus::Fail;
  }
  return RunStep(impl_, true, "saving", message,
                 [&](std::string& reason) { return impl_->writer.Commit(reason); });
}

}  // namespace XSI
