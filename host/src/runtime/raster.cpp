// The runtime's side of GeoTIFF reading: what needs no GDAL, and the loading
// of libxsigdal.so, which does the rest (raster_gdal.cpp).
#include "raster_gdal.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "image_codecs.h"
#include "runtime.h"
#include "text.h"

namespace host {

namespace {

// Pixels a file may claim per byte it holds: above deflate's 1032 to 1 and
// LZW's, so real files pass, while a few bytes cannot claim a huge picture.
constexpr std::uint64_t kMaxExpansion = 4096;

std::string Number(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// The module beside this library, loaded once. Null with `error` when it
// cannot be: a broken install, reported to whoever asked for a GeoTIFF.
const RasterModule* LoadRasterModule(std::string& error) {
  static std::once_flag once;
  static const RasterModule* module = nullptr;
  static std::string failure;
  std::call_once(once, [] {
    const std::string path = BesideRuntime(kRasterModuleFile);
    if (path.empty()) {
      failure = "cannot find the folder of libxsiruntime.so";
      return;
    }
    // Never unloaded: rasters it made may outlive any owner here.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* error = dlerror();
      std::string why = error ? error : "";
      // dlerror names the file itself; say it once.
      if (why.rfind(path + ": ", 0) == 0) why.erase(0, path.size() + 2);
      failure = "GeoTIFF support is not available: cannot load " + path + (why.empty() ? "" : ": " + why);
      return;
    }
    using Entry = const RasterModule* (*)();
    auto entry = reinterpret_cast<Entry>(dlsym(handle, kRasterModuleEntry));
    const RasterModule* m = entry ? entry() : nullptr;
    if (!m || m->version != kRasterModuleVersion) {
      failure = path + " is not this build's GeoTIFF module";
      return;
    }
    module = m;
  });
  error = failure;
  return module;
}

}  // namespace

bool FileLooksLikeTiff(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  std::uint8_t magic[4] = {0, 0, 0, 0};
  const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::pread(fd, magic, 4, 0) == 4;
  ::close(fd);
  return ok && LooksLikeTiff(magic, 4);
}

std::string RasterInfoJson(const RasterInfo& i) {
  std::string j = "{\"width\":" + std::to_string(i.width) + ",\"height\":" + std::to_string(i.height) +
                  ",\"bands\":" + std::to_string(i.bands) + ",\"type\":" + JsonQuoted(i.type) +
                  ",\"georeferenced\":" + (i.georeferenced ? "true" : "false");
  if (i.georeferenced) {
    j += ",\"crs\":" + JsonQuoted(i.crs) + ",\"pixel_size_m\":[" + Number(i.pixelSizeX) + "," +
         Number(i.pixelSizeY) + "],\"centre\":{\"lon\":" + Number(i.lon) + ",\"lat\":" + Number(i.lat) + "}";
  }
  return j + "}";
}

// ---- Raster -----------------------------------------------------------------

std::unique_ptr<Raster> Raster::OpenFile(const std::string& path, std::string& reason) {
  const RasterModule* m = LoadRasterModule(reason);
  return m ? m->openFile(path, reason) : nullptr;
}

std::unique_ptr<Raster> Raster::OpenMemory(const std::uint8_t* bytes, std::size_t size, std::string& reason) {
  const RasterModule* m = LoadRasterModule(reason);
  return m ? m->openMemory(bytes, size, reason) : nullptr;
}

std::string Raster::CheckWindow(const PixelWindow& w) const {
  if (w.width <= 0 || w.height <= 0)
    return "the window " + std::to_string(w.width) + " x " + std::to_string(w.height) + " has no pixels";
  if (w.x < 0 || w.y < 0 || w.x > width_ || w.y > height_ || w.width > width_ - w.x ||
      w.height > height_ - w.y)
    return "the window of " + std::to_string(w.width) + " x " + std::to_string(w.height) + " pixels at (" +
           std::to_string(w.x) + ", " + std::to_string(w.y) + ") is not inside the raster of " +
           std::to_string(width_) + " x " + std::to_string(height_) + " pixels";
  return {};
}

bool Raster::IsNoData(double v) const {
  if (!std::isfinite(v)) return true;
  return hasNoData_ && v == noData_;
}

std::string Raster::ReadPicture(const PixelWindow& w, const ImageLimits& limits, XSI::detail::ImageData& out) {
  std::string reason = CheckWindow(w);
  if (reason.empty()) reason = PictureBandsProblem();
  if (reason.empty()) reason = image::CheckSize(std::uint64_t(w.width), std::uint64_t(w.height), limits);
  if (!reason.empty()) return reason;
  const std::uint64_t bytes = std::uint64_t(w.width) * std::uint64_t(w.height) * std::uint64_t(bands_);
  if (bytes / kMaxExpansion > fileBytes_)
    return "the file of " + std::to_string(fileBytes_) + " bytes cannot hold " + std::to_string(w.width) +
           " x " + std::to_string(w.height) + " pixels";
  out.Allocate(int(w.width), int(w.height), bands_, 8);
  // Read top row first into the buffer, then turn the rows over: the store
  // keeps the bottom row first.
  reason = ReadPictureRows(w, out.MutableRow(0), out.rowBytes);
  if (!reason.empty()) return reason;
  for (int top = 0, bottom = int(w.height) - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(out.MutableRow(top), out.MutableRow(top) + out.rowBytes, out.MutableRow(bottom));
  return {};
}

// ---- pictures -----------------------------------------------------------------

namespace {

std::string ImageFailure(const std::string& name, const std::string& what) {
  return "cannot read image '" + name + "': " + what;
}

std::shared_ptr<XSI::detail::ImageData> Picture(Raster& r, const PixelWindow* window, const ImageLimits& limits,
                                                const std::string& name, std::string& error) {
  PixelWindow whole{0, 0, r.Width(), r.Height()};
  auto data = std::make_shared<XSI::detail::ImageData>();
  const std::string reason = r.ReadPicture(window ? *window : whole, limits, *data);
  if (!reason.empty()) {
    error = ImageFailure(name, reason);
    return nullptr;
  }
  return data;
}

}  // namespace

std::shared_ptr<XSI::detail::ImageData> LoadTiffFile(const std::string& path, const PixelWindow* window,
                                                    const ImageLimits& limits, std::string& error) {
  error.clear();
  try {
    std::string reason;
    std::unique_ptr<Raster> r = Raster::OpenFile(path, reason);
    if (!r) {
      error = ImageFailure(path, reason);
      return nullptr;
    }
    auto data = Picture(*r, window, limits, path, error);
    if (data) data->path = path;
    return data;
  } catch (const std::bad_alloc&) {
    error = ImageFailure(path, "out of memory reading the image");
    return nullptr;
  }
}

std::shared_ptr<XSI::detail::ImageData> LoadTiffMemory(const std::uint8_t* bytes, std::size_t size,
                                                      const std::string& name, const ImageLimits& limits,
                                                      std::string& error) {
  error.clear();
  try {
    std::string reason;
    std::unique_ptr<Raster> r = Raster::OpenMemory(bytes, size, reason);
    if (!r) {
      error = ImageFailure(name, reason);
      return nullptr;
    }
    return Picture(*r, nullptr, limits, name, error);
  } catch (const std::bad_alloc&) {
    error = ImageFailure(name, "out of memory decoding the image");
    return nullptr;
  }
}

std::shared_ptr<XSI::detail::ImageData> LoadImageWindow(const std::string& path, const PixelWindow& w,
                                                       std::string& error) {
  if (FileLooksLikeTiff(path)) return LoadTiffFile(path, &w, ImageLimits(), error);
  std::shared_ptr<XSI::detail::ImageData> whole = LoadImageFile(path, error);
  if (!whole) return nullptr;
  if (w.width <= 0 || w.height <= 0 || w.x < 0 || w.y < 0 || w.x > whole->width || w.y > whole->height ||
      w.width > whole->width - w.x || w.height > whole->height - w.y) {
    error = ImageFailure(path, "the window of " + std::to_string(w.width) + " x " + std::to_string(w.height) +
                                   " pixels at (" + std::to_string(w.x) + ", " + std::to_string(w.y) +
                                   ") is not inside the image of " + std::to_string(whole->width) + " x " +
                                   std::to_string(whole->height) + " pixels");
    return nullptr;
  }
  try {
    auto data = std::make_shared<XSI::detail::ImageData>();
    data->Allocate(int(w.width), int(w.height), whole->channels, whole->bitsPerChannel);
    const std::size_t pixelBytes = std::size_t(whole->channels) * std::size_t(whole->bitsPerChannel / 8);
    // Stored rows run bottom up: window row r from the top is image row
    // w.y + r from the top.
    for (int r = 0; r < int(w.height); ++r) {
      const std::uint8_t* src = whole->Row(whole->height - 1 - int(w.y) - r) + std::size_t(w.x) * pixelBytes;
      std::memcpy(data->MutableRow(int(w.height) - 1 - r), src, data->rowBytes);
    }
    data->path = path;
    return data;
  } catch (const std::bad_alloc&) {
    error = ImageFailure(path, "out of memory reading the image");
    return nullptr;
  }
}

}  // namespace host
