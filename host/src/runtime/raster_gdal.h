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
bool LooksLikeTiff(const std::uint8_t* bytes, std::size_t size);

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
class Raster {
 public:
  ~Raster();
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
  std::string Band1Type() const;
  bool Band1TypeHandled() const;
  bool Band1IsByte() const;

  // Band 1's values at `columns` (ascending, inside the raster) of `row`,
  // into `out` (one per column). Reads the row in pieces, or sample by
  // sample when they are far apart, so memory stays in proportion to the
  // samples.
  std::string ReadBand1(std::int64_t row, const std::vector<std::int64_t>& columns, std::vector<double>& out);

  // True when `v` is band 1's nodata value, or not finite.
  bool IsNoData(double v) const;

  // Size, band 1's type and, when the file has a geotransform and a CRS that
  // converts to WGS84, the georeferencing.
  std::string Info(RasterInfo& out);

 private:
  Raster() = default;
  std::string Setup();

  void* ds_ = nullptr;  // GDALDatasetH
  int fd_ = -1;
  std::string vsimem_;  // the in-memory file's name, when opened from memory
  std::string gdalName_;  // the name GDAL knows the file by
  std::uint64_t fileBytes_ = 0;
  std::int64_t width_ = 0, height_ = 0;
  int bands_ = 0;
  bool hasNoData_ = false;
  double noData_ = 0;
};

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
