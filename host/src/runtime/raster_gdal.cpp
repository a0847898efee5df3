// GeoTIFF through GDAL. See raster_gdal.h for the rules every read follows.
#include "raster_gdal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include "image_codecs.h"

namespace host {

namespace {

constexpr std::int64_t kCacheBytes = std::int64_t(64) << 20;
// A block GDAL would allocate whole to read any pixel of it.
constexpr std::uint64_t kMaxBlockBytes = std::uint64_t(64) << 20;
// Pixels a file may claim per byte it holds: above deflate's 1032 to 1 and
// LZW's, so real files pass, while a few bytes cannot claim a huge picture.
constexpr std::uint64_t kMaxExpansion = 4096;
// Columns read at once when a height-field row is read in pieces.
constexpr std::int64_t kRowPiece = 65536;

void InitGdal() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Nothing beside the file is read, and nothing is written next to it.
    CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
    CPLSetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR");
    GDALAllRegister();
    GDALSetCacheMax64(kCacheBytes);
  });
}

// Silences GDAL while alive and keeps its last failure message.
class GdalErrors {
 public:
  GdalErrors() {
    CPLErrorReset();
    CPLPushErrorHandlerEx(&GdalErrors::Handler, this);
  }
  ~GdalErrors() { CPLPopErrorHandler(); }
  GdalErrors(const GdalErrors&) = delete;
  GdalErrors& operator=(const GdalErrors&) = delete;

  // " (GDAL: <message>)", or "" when GDAL said nothing. `hide` is the name
  // GDAL knows the file by, left out: the caller names the file itself.
  std::string Detail(const std::string& hide = {}) const {
    if (last_.empty()) return {};
    std::string m = last_;
    for (std::size_t at; !hide.empty() && (at = m.find(hide)) != std::string::npos;) {
      std::size_t end = at + hide.size();
      if (end < m.size() && (m[end] == ':' || m[end] == ',')) ++end;
      while (end < m.size() && m[end] == ' ') ++end;
      m.erase(at, end - at);
    }
    if (m.size() > 200) m = m.substr(0, 200) + "...";
    for (char& c : m)
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return " (GDAL: " + m + ")";
  }

 private:
  static void CPL_STDCALL Handler(CPLErr level, CPLErrorNum, const char* message) {
    auto* self = static_cast<GdalErrors*>(CPLGetErrorHandlerUserData());
    if (self && level >= CE_Failure && message) self->last_ = message;
  }
  std::string last_;
};

std::string OpenFailure(int err) {
  if (err == ENOENT || err == ENOTDIR) return "no such file";
  if (err == EACCES) return "permission denied";
  if (err == EISDIR) return "is a directory";
  return std::generic_category().message(err);
}

GDALDatasetH Ds(void* p) { return static_cast<GDALDatasetH>(p); }

const char* const kDrivers[] = {"GTiff", nullptr};

std::string Number(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", u);
      out += esc;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

bool LooksLikeTiff(const std::uint8_t* b, std::size_t size) {
  if (size < 4) return false;
  return (b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
         (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43));
}

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
                  ",\"bands\":" + std::to_string(i.bands) + ",\"type\":" + JsonString(i.type) +
                  ",\"georeferenced\":" + (i.georeferenced ? "true" : "false");
  if (i.georeferenced) {
    j += ",\"crs\":" + JsonString(i.crs) + ",\"pixel_size_m\":[" + Number(i.pixelSizeX) + "," +
         Number(i.pixelSizeY) + "],\"centre\":{\"lon\":" + Number(i.lon) + ",\"lat\":" + Number(i.lat) + "}";
  }
  return j + "}";
}

// ---- Raster -----------------------------------------------------------------

Raster::~Raster() {
  if (ds_) {
    GdalErrors quiet;
    GDALClose(Ds(ds_));
  }
  if (!vsimem_.empty()) VSIUnlink(vsimem_.c_str());
  if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<Raster> Raster::OpenFile(const std::string& path, std::string& reason) {
  InitGdal();
  std::unique_ptr<Raster> r(new Raster());
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
  r->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (r->fd_ < 0) {
    reason = OpenFailure(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(r->fd_, &st) != 0) {
    reason = OpenFailure(errno);
    return nullptr;
  }
  if (S_ISDIR(st.st_mode)) reason = "is a directory";
  else if (!S_ISREG(st.st_mode)) reason = "not a regular file";
  else if (st.st_size == 0) reason = "file is empty";
  if (!reason.empty()) return nullptr;
  std::uint8_t magic[4] = {0, 0, 0, 0};
  if (::pread(r->fd_, magic, 4, 0) != 4 || !LooksLikeTiff(magic, 4)) {
    reason = "not a TIFF file";
    return nullptr;
  }
  r->fileBytes_ = static_cast<std::uint64_t>(st.st_size);
  // GDAL opens the file we checked, through our descriptor: never another
  // file swapped in at the path, and never a GDAL virtual path.
  const std::string through = "/proc/self/fd/" + std::to_string(r->fd_);
  r->gdalName_ = through;
  GdalErrors errors;
  r->ds_ = GDALOpenEx(through.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, kDrivers, nullptr, nullptr);
  if (!r->ds_) {
    reason = "cannot be opened as a TIFF file" + errors.Detail(through);
    return nullptr;
  }
  reason = r->Setup();
  if (!reason.empty()) return nullptr;
  return r;
}

std::unique_ptr<Raster> Raster::OpenMemory(const std::uint8_t* bytes, std::size_t size, std::string& reason) {
  InitGdal();
  if (size == 0) {
    reason = "file is empty";
    return nullptr;
  }
  if (!LooksLikeTiff(bytes, size)) {
    reason = "not a TIFF file";
    return nullptr;
  }
  static std::atomic<std::uint64_t> counter{0};
  std::unique_ptr<Raster> r(new Raster());
  r->vsimem_ = "/vsimem/host_raster_" + std::to_string(::getpid()) + "_" + std::to_string(++counter) + ".tif";
  VSILFILE* f = VSIFileFromMemBuffer(r->vsimem_.c_str(), const_cast<GByte*>(bytes), vsi_l_offset(size), FALSE);
  if (!f) {
    r->vsimem_.clear();
    reason = "cannot map the bytes for GDAL";
    return nullptr;
  }
  VSIFCloseL(f);
  r->fileBytes_ = size;
  r->gdalName_ = r->vsimem_;
  GdalErrors errors;
  r->ds_ = GDALOpenEx(r->vsimem_.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, kDrivers, nullptr, nullptr);
  if (!r->ds_) {
    reason = "cannot be opened as a TIFF file" + errors.Detail(r->vsimem_);
    return nullptr;
  }
  reason = r->Setup();
  if (!reason.empty()) return nullptr;
  return r;
}

std::string Raster::Setup() {
  GDALDatasetH ds = Ds(ds_);
  width_ = GDALGetRasterXSize(ds);
  height_ = GDALGetRasterYSize(ds);
  bands_ = GDALGetRasterCount(ds);
  if (width_ <= 0 || height_ <= 0) return "image has no pixels";
  if (bands_ <= 0) return "the raster has no bands";
  for (int b = 1; b <= bands_; ++b) {
    GDALRasterBandH band = GDALGetRasterBand(ds, b);
    if (!band) return "band " + std::to_string(b) + " cannot be read";
    int bx = 0, by = 0;
    GDALGetBlockSize(band, &bx, &by);
    const std::uint64_t bytes = std::uint64_t(std::max(bx, 0)) * std::uint64_t(std::max(by, 0)) *
                                std::uint64_t(GDALGetDataTypeSizeBytes(GDALGetRasterDataType(band)));
    // A pixel-interleaved strip holds every band's samples.
    if (bx <= 0 || by <= 0 || bytes * std::uint64_t(bands_) > kMaxBlockBytes)
      return "its blocks (strips or tiles) of " + std::to_string(bx) + " x " + std::to_string(by) +
             " pixels are too large (the limit is " + std::to_string(kMaxBlockBytes) + " bytes a block)";
  }
  int has = 0;
  noData_ = GDALGetRasterNoDataValue(GDALGetRasterBand(ds, 1), &has);
  hasNoData_ = has != 0;
  return {};
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

std::string Raster::Band1Type() const {
  return GDALGetDataTypeName(GDALGetRasterDataType(GDALGetRasterBand(Ds(ds_), 1)));
}

bool Raster::Band1TypeHandled() const {
  switch (GDALGetRasterDataType(GDALGetRasterBand(Ds(ds_), 1))) {
    case GDT_Byte:
    case GDT_Int16:
    case GDT_UInt16:
    case GDT_Int32:
    case GDT_Float32:
    case GDT_Float64:
      return true;
    default:
      return false;
  }
}

bool Raster::Band1IsByte() const { return GDALGetRasterDataType(GDALGetRasterBand(Ds(ds_), 1)) == GDT_Byte; }

bool Raster::IsNoData(double v) const {
  if (!std::isfinite(v)) return true;
  return hasNoData_ && v == noData_;
}

std::string Raster::ReadPicture(const PixelWindow& w, const ImageLimits& limits, XSI::detail::ImageData& out) {
  std::string reason = CheckWindow(w);
  if (!reason.empty()) return reason;
  GDALDatasetH ds = Ds(ds_);
  if (bands_ != 1 && bands_ != 3 && bands_ != 4)
    return "the raster has " + std::to_string(bands_) +
           " bands; a picture has 1 (grey), 3 (RGB) or 4 (RGBA) 8-bit bands";
  for (int b = 1; b <= bands_; ++b) {
    GDALRasterBandH band = GDALGetRasterBand(ds, b);
    const GDALDataType t = GDALGetRasterDataType(band);
    if (t != GDT_Byte)
      return "band " + std::to_string(b) + " holds " + GDALGetDataTypeName(t) +
             " values; a picture has 8-bit (Byte) bands";
    if (GDALGetRasterColorInterpretation(band) == GCI_PaletteIndex)
      return "colour-mapped (palette) TIFF is not supported";
  }
  reason = image::CheckSize(std::uint64_t(w.width), std::uint64_t(w.height), limits);
  if (!reason.empty()) return reason;
  const std::uint64_t bytes = std::uint64_t(w.width) * std::uint64_t(w.height) * std::uint64_t(bands_);
  if (bytes / kMaxExpansion > fileBytes_)
    return "the file of " + std::to_string(fileBytes_) + " bytes cannot hold " + std::to_string(w.width) +
           " x " + std::to_string(w.height) + " pixels";
  out.Allocate(int(w.width), int(w.height), bands_, 8);
  int map[4] = {1, 2, 3, 4};
  GdalErrors errors;
  // Read top row first into the buffer, then turn the rows over: the store
  // keeps the bottom row first.
  const CPLErr err = GDALDatasetRasterIOEx(ds, GF_Read, int(w.x), int(w.y), int(w.width), int(w.height),
                                           out.MutableRow(0), int(w.width), int(w.height), GDT_Byte, bands_, map,
                                           bands_, GSpacing(out.rowBytes), 1, nullptr);
  if (err != CE_None) return "corrupt or unsupported TIFF data" + errors.Detail(gdalName_);
  for (int top = 0, bottom = int(w.height) - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(out.MutableRow(top), out.MutableRow(top) + out.rowBytes, out.MutableRow(bottom));
  return {};
}

std::string Raster::ReadBand1(std::int64_t row, const std::vector<std::int64_t>& columns,
                              std::vector<double>& out) {
  out.assign(columns.size(), 0.0);
  if (columns.empty()) return {};
  GDALRasterBandH band = GDALGetRasterBand(Ds(ds_), 1);
  GdalErrors errors;
  const auto fail = [&] { return "corrupt or unsupported TIFF data in row " + std::to_string(row) + errors.Detail(gdalName_); };
  // Samples at least this far apart are read one by one (GDAL's block cache
  // keeps their blocks); closer ones a piece of the row at a time.
  const std::int64_t span = columns.back() - columns.front() + 1;
  if (span > std::int64_t(columns.size()) * 16) {
    for (std::size_t i = 0; i < columns.size(); ++i)
      if (GDALRasterIO(band, GF_Read, int(columns[i]), int(row), 1, 1, &out[i], 1, 1, GDT_Float64, 0, 0) != CE_None)
        return fail();
    return {};
  }
  std::vector<double> piece;
  std::size_t i = 0;
  while (i < columns.size()) {
    const std::int64_t start = columns[i];
    const std::int64_t n = std::min<std::int64_t>(kRowPiece, columns.back() - start + 1);
    piece.resize(std::size_t(n));
    if (GDALRasterIO(band, GF_Read, int(start), int(row), int(n), 1, piece.data(), int(n), 1, GDT_Float64, 0, 0) !=
        CE_None)
      return fail();
    for (; i < columns.size() && columns[i] < start + n; ++i) out[i] = piece[std::size_t(columns[i] - start)];
  }
  return {};
}

namespace {

// Owns an OGRSpatialReferenceH.
struct Srs {
  OGRSpatialReferenceH h = nullptr;
  Srs() = default;
  Srs(const Srs&) = delete;
  Srs& operator=(const Srs&) = delete;
  ~Srs() {
    if (h) OSRDestroySpatialReference(h);
  }
};

bool SameKind(OGRSpatialReferenceH a, OGRSpatialReferenceH b) {
  return OSRIsGeographic(a) == OSRIsGeographic(b) && OSRIsProjected(a) == OSRIsProjected(b) &&
         OSRIsGeocentric(a) == OSRIsGeocentric(b) && OSRIsCompound(a) == OSRIsCompound(b);
}

// The file's CRS, rebuilt from what PROJ knows rather than taken as the file
// gives it: a file can pair an EPSG code with a definition of another kind
// (a geocentric code on a geographic CRS), which PROJ does not survive when
// it looks for a transformation. With an EPSG code: that code from the
// database, if it is the same kind of CRS; otherwise the CRS as a PROJ
// string. Axes in the geotransform's order (x east or longitude). False when
// it cannot be rebuilt, or is neither geographic nor projected.
bool CleanCrs(OGRSpatialReferenceH file, Srs& out, std::string& name) {
  if (!(OSRIsGeographic(file) || OSRIsProjected(file)) || OSRIsCompound(file)) return false;
  out.h = OSRNewSpatialReference(nullptr);
  const char* authority = OSRGetAuthorityName(file, nullptr);
  const char* code = OSRGetAuthorityCode(file, nullptr);
  if (authority && code && std::strcmp(authority, "EPSG") == 0) {
    char* end = nullptr;
    const long n = std::strtol(code, &end, 10);
    if (end == code || *end != 0 || n <= 0 || n > 0x7fffffff) return false;
    if (OSRImportFromEPSG(out.h, int(n)) != OGRERR_NONE || !SameKind(file, out.h)) return false;
    name = "EPSG:" + std::to_string(n);
  } else {
    char* proj = nullptr;
    const bool exported = OSRExportToProj4(file, &proj) == OGRERR_NONE && proj && *proj;
    const bool ok = exported && OSRImportFromProj4(out.h, proj) == OGRERR_NONE && SameKind(file, out.h);
    CPLFree(proj);
    if (!ok) return false;
    const char* own = OSRGetName(file);
    name = own && *own ? own : "unknown";
  }
  OSRSetAxisMappingStrategy(out.h, OAMS_TRADITIONAL_GIS_ORDER);
  return true;
}

}  // namespace

std::string Raster::Info(RasterInfo& out) {
  out = RasterInfo();
  out.width = width_;
  out.height = height_;
  out.bands = bands_;
  out.type = Band1Type();
  GDALDatasetH ds = Ds(ds_);
  GdalErrors errors;
  double gt[6];
  OGRSpatialReferenceH fileSrs = GDALGetSpatialRef(ds);
  if (GDALGetGeoTransform(ds, gt) != CE_None || !fileSrs) return {};
  for (double v : gt)
    if (!std::isfinite(v)) return {};
  Srs srs;
  std::string crsName;
  // Without a CRS PROJ can rebuild, the raster is not placed on Earth.
  if (!CleanCrs(fileSrs, srs, crsName)) return {};
  const double cx = double(width_) / 2.0, cy = double(height_) / 2.0;
  double x = gt[0] + cx * gt[1] + cy * gt[2];
  double y = gt[3] + cx * gt[4] + cy * gt[5];
  double sx = std::hypot(gt[1], gt[4]), sy = std::hypot(gt[2], gt[5]);
  if (OSRIsGeographic(srs.h)) {
    // Degrees (or other angles) along longitude x and latitude y: metres at
    // the centre latitude on the CRS's ellipsoid.
    const double toRad = OSRGetAngularUnits(srs.h, nullptr);
    OGRErr e = OGRERR_NONE;
    const double a = OSRGetSemiMajor(srs.h, &e);
    const double invf = OSRGetInvFlattening(srs.h, &e);
    const double f = invf > 0 ? 1.0 / invf : 0.0, e2 = f * (2.0 - f);
    const double phi = y * toRad, s = std::sin(phi);
    const double w = 1.0 - e2 * s * s;
    const double east = a / std::sqrt(w) * std::cos(phi) * toRad;      // metres per unit of longitude
    const double north = a * (1.0 - e2) / (w * std::sqrt(w)) * toRad;  // per unit of latitude
    sx = std::hypot(gt[1] * east, gt[4] * north);
    sy = std::hypot(gt[2] * east, gt[5] * north);
  } else {
    const double unit = OSRGetLinearUnits(srs.h, nullptr);
    sx *= unit;
    sy *= unit;
  }
  Srs wgs84;
  wgs84.h = OSRNewSpatialReference(nullptr);
  bool ok = OSRImportFromEPSG(wgs84.h, 4326) == OGRERR_NONE;
  OSRSetAxisMappingStrategy(wgs84.h, OAMS_TRADITIONAL_GIS_ORDER);
  OGRCoordinateTransformationH ct = ok ? OCTNewCoordinateTransformation(srs.h, wgs84.h) : nullptr;
  ok = ct && OCTTransform(ct, 1, &x, &y, nullptr) && std::isfinite(x) && std::isfinite(y) && std::isfinite(sx) &&
       std::isfinite(sy);
  if (ct) OCTDestroyCoordinateTransformation(ct);
  if (!ok) return {};
  out.georeferenced = true;
  out.crs = crsName;
  out.pixelSizeX = sx;
  out.pixelSizeY = sy;
  out.lon = x;
  out.lat = y;
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
