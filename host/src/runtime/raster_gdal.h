// GeoTIFF (TIFF and BigTIFF) through GDAL, read window by window.
//
// Every file is untrusted input. Only regular files are opened, and only
// GDAL's GTiff driver may read them: no side files (.aux.xml, .tfw, .ovr),
// no virtual file systems, nothing written back. GDAL's own error printing
// is silenced; its last message becomes part of the reason a read failed.
// GDAL's block cache is held at 64 MiB, so a read costs memory in
// proportion to its window, not to the raster. A raster whose blocks
// (strips or tiles) are larger than 64 MiB is refused, and so is a window
// whose pixels would take more than 4096 times the file's bytes (a tiny file
// that claims a huge picture).
//
// Windows are given in pixels from the raster's top-left corner. Reasons are
// returned without the file name; the callers add it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image_data.h"

namespace host {

// True when the bytes start like a TIFF ("II*\0", "MM\0*") or BigTIFF
// ("II+\0", "MM\0+") file.
inline bool LooksLikeTiff(const std::uint8_t* b, std::size_t size) {
  if (size < 4) return false;
  return (b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
         (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43));
}

// True when `path` is a regular file that starts like a TIFF file.
bool FileLooksLikeTiff(const std::string& path);

// What GetRasterInfo reports.
struct RasterInfo {
  std::int64_t width = 0, height = 0;
  int bands = 0;
  std::string type;  // band 1's type: "Byte", "Int16", "UInt16", "Int32", "Float32", "Float64", ...
  bool georeferenced = false;
  std::string crs;                      // "EPSG:32633", or the CRS's name
  double pixelSizeX = 0, pixelSizeY = 0;  // metres per pixel along columns and rows
  double lon = 0, lat = 0;              // the centre in WGS84
};

// The JSON text of `info` (keys in a fixed order; numbers that round-trip).
std::string RasterInfoJson(const RasterInfo& info);

// One open GeoTIFF. Not shared between threads.
//
// GDAL (and PROJ with it) loads some 120 libraries, which would cost every
// scenehost run tens of milliseconds at start-up. So GDAL lives in a module
// of its own, libxsigdal.so beside libxsiruntime.so, loaded by the first
// OpenFile or OpenMemory; a run that reads no GeoTIFF never loads it. The
// checks that need no GDAL are made here, in the runtime; the module
// implements the virtual calls and depends on nothing of the runtime.
class Raster {
 public:
  virtual ~Raster() = default;
  Raster(const Raster&) = delete;
  Raster& operator=(const Raster&) = delete;

  // Opens a regular file (any size; links followed). Null with `reason`
  // ("no such file", "not a regular file", "not a TIFF file", ...).
  static std::unique_ptr<Raster> OpenFile(const std::string& path, std::string& reason);
  // Opens `size` bytes in memory; they must outlive the Raster.
  static std::unique_ptr<Raster> OpenMemory(const std::uint8_t* bytes, std::size_t size, std::string& reason);

  std::int64_t Width() const { return width_; }
  std::int64_t Height() const { return height_; }
  int Bands() const { return bands_; }

  // Empty when `w` has pixels and lies inside the raster.
  std::string CheckWindow(const PixelWindow& w) const;

  // The window as an 8-bit picture: one band (grey), three (RGB) or four
  // (RGBA) Byte bands, rows stored bottom row first. Refuses other band
  // layouts and types, palettes, and windows over `limits`.
  std::string ReadPicture(const PixelWindow& w, const ImageLimits& limits, XSI::detail::ImageData& out);

  // Band 1's type name, and whether it is one the host reads as numbers.
  virtual std::string Band1Type() const = 0;
  virtual bool Band1TypeHandled() const = 0;
  virtual bool Band1IsByte() const = 0;

  // Band 1's values at `columns` (ascending, inside the raster) of `row`,
  // into `out` (one per column). Reads the row in pieces, or sample by
  // sample when they are far apart, so memory stays in proportion to the
  // samples.
  virtual std::string ReadBand1(std::int64_t row, const std::vector<std::int64_t>& columns,
                                std::vector<double>& out) = 0;

  // True when `v` is band 1's nodata value, or not finite.
  bool IsNoData(double v) const;

  // Size, band 1's type and, when the file has a geotransform and a CRS that
  // converts to WGS84, the georeferencing.
  virtual std::string Info(RasterInfo& out) = 0;

 protected:
  Raster() = default;
  // Empty when every band can make a picture (1, 3 or 4 Byte bands, no
  // palette); otherwise why not.
  virtual std::string PictureBandsProblem() const = 0;
  // Every band of the window (checked inside the raster), interleaved, into
  // rows of `rowBytes` from `top`, the top row first.
  virtual std::string ReadPictureRows(const PixelWindow& w, std::uint8_t* top, std::size_t rowBytes) = 0;

  std::uint64_t fileBytes_ = 0;
  std::int64_t width_ = 0, height_ = 0;
  int bands_ = 0;
  bool hasNoData_ = false;
  double noData_ = 0;
};

// What libxsigdal.so gives the runtime, through the one symbol it exports
// (kRasterModuleEntry). `version` guards against a module from another build.
struct RasterModule {
  int version;
  std::unique_ptr<Raster> (*openFile)(const std::string& path, std::string& reason);
  std::unique_ptr<Raster> (*openMemory)(const std::uint8_t* bytes, std::size_t size, std::string& reason);
};
constexpr int kRasterModuleVersion = 1;
constexpr const char* kRasterModuleFile = "libxsigdal.so";
constexpr const char* kRasterModuleEntry = "xsi_raster_module";

// Loads a TIFF file as a picture (the whole raster, or `window` when given),
// as LoadImageFile does for other formats. Errors read
// "cannot read image '<path>': <reason>".
std::shared_ptr<XSI::detail::ImageData> LoadTiffFile(const std::string& path, const PixelWindow* window,
                                                    const ImageLimits& limits, std::string& error);
std::shared_ptr<XSI::detail::ImageData> LoadTiffMemory(const std::uint8_t* bytes, std::size_t size,
                                                      const std::string& name, const ImageLimits& limits,
                                                      std::string& error);

// A picture of `window` of any file the host reads: a TIFF reads only the
// window through GDAL, the other formats are decoded whole and cropped.
std::shared_ptr<XSI::detail::ImageData> LoadImageWindow(const std::string& path, const PixelWindow& window,
                                                       std::string& error);

}  // namespace host
