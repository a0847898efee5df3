// GeoTIFF through GDAL: libxsigdal.so, the module the runtime loads on the
// first GeoTIFF it opens. See raster_gdal.h for the rules every read
// follows. Nothing here calls into the runtime, so the module needs only GDAL.
#include "raster_gdal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
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


namespace host {

namespace {

constexpr std::int64_t kCacheBytes = std::int64_t(64) << 20;
// A block GDAL would allocate whole to read any pixel of it.
constexpr std::uint64_t kMaxBlockBytes = std::uint64_t(64) << 20;
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

}  // namespace

// ---- GdalRaster -------------------------------------------------------------

class GdalRaster final : public Raster {
 public:
  ~GdalRaster() override;
  static std::unique_ptr<Raster> OpenFile(const std::string& path, std::string& reason);
  static std::unique_ptr<Raster> OpenMemory(const std::uint8_t* bytes, std::size_t size, std::string& reason);

  std::string Band1Type() const override;
  bool Band1TypeHandled() const override;
  bool Band1IsByte() const override;
  std::string ReadBand1(std::int64_t row, const std::vector<std::int64_t>& columns,
                        std::vector<double>& out) override;
  std::string Info(RasterInfo& out) override;

 private:
  GdalRaster() = default;
  std::string Setup();
  std::string PictureBandsProblem() const override;
  std::string ReadPictureRows(const PixelWindow& w, std::uint8_t* top, std::size_t rowBytes) override;

  void* ds_ = nullptr;  // GDALDatasetH
  int fd_ = -1;
  std::string vsimem_;    // the in-memory file's name, when opened from memory
  std::string gdalName_;  // the name GDAL knows the file by
};


GdalRaster::~GdalRaster() {
  if (ds_) {
    GdalErrors quiet;
    GDALClose(Ds(ds_));
  }
  if (!vsimem_.empty()) VSIUnlink(vsimem_.c_str());
  if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<Raster> GdalRaster::OpenFile(const std::string& path, std::string& reason) {
  InitGdal();
  std::unique_ptr<GdalRaster> r(new GdalRaster());
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
  return std::unique_ptr<Raster>(r.release());
}

std::unique_ptr<Raster> GdalRaster::OpenMemory(const std::uint8_t* bytes, std::size_t size, std::string& reason) {
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
  std::unique_ptr<GdalRaster> r(new GdalRaster());
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
  return std::unique_ptr<Raster>(r.release());
}

std::string GdalRaster::Setup() {
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

std::string GdalRaster::Band1Type() const {
  return GDALGetDataTypeName(GDALGetRasterDataType(GDALGetRasterBand(Ds(ds_), 1)));
}

bool GdalRaster::Band1TypeHandled() const {
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

bool GdalRaster::Band1IsByte() const { return GDALGetRasterDataType(GDALGetRasterBand(Ds(ds_), 1)) == GDT_Byte; }

std::string GdalRaster::PictureBandsProblem() const {
  if (bands_ != 1 && bands_ != 3 && bands_ != 4)
    return "the raster has " + std::to_string(bands_) +
           " bands; a picture has 1 (grey), 3 (RGB) or 4 (RGBA) 8-bit bands";
  for (int b = 1; b <= bands_; ++b) {
    GDALRasterBandH band = GDALGetRasterBand(Ds(ds_), b);
    const GDALDataType t = GDALGetRasterDataType(band);
    if (t != GDT_Byte)
      return "band " + std::to_string(b) + " holds " + GDALGetDataTypeName(t) +
             " values; a picture has 8-bit (Byte) bands";
    if (GDALGetRasterColorInterpretation(band) == GCI_PaletteIndex)
      return "colour-mapped (palette) TIFF is not supported";
  }
  return {};
}

std::string GdalRaster::ReadPictureRows(const PixelWindow& w, std::uint8_t* top, std::size_t rowBytes) {
  int map[4] = {1, 2, 3, 4};
  GdalErrors errors;
  const CPLErr err = GDALDatasetRasterIOEx(Ds(ds_), GF_Read, int(w.x), int(w.y), int(w.width), int(w.height), top,
                                           int(w.width), int(w.height), GDT_Byte, bands_, map, bands_,
                                           GSpacing(rowBytes), 1, nullptr);
  if (err != CE_None) return "corrupt or unsupported TIFF data" + errors.Detail(gdalName_);
  return {};
}

std::string GdalRaster::ReadBand1(std::int64_t row, const std::vector<std::int64_t>& columns,
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

std::string GdalRaster::Info(RasterInfo& out) {
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

}  // namespace host

extern "C" __attribute__((visibility("default"))) const host::RasterModule* xsi_raster_module() {
  static const host::RasterModule module = {host::kRasterModuleVersion, &host::GdalRaster::OpenFile,
                                            &host::GdalRaster::OpenMemory};
  return &module;
}
