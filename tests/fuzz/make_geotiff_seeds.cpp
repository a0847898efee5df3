// Writes the seed corpus of fuzz_geotiff (corpus/geotiff/) with GDAL: small
// GeoTIFFs in the layouts the host reads and a few it refuses. Built by hand
// when the seeds need changing:
//   g++ -std=c++17 -I/usr/include/gdal tests/fuzz/make_geotiff_seeds.cpp -lgdal -o /tmp/seeds
//   /tmp/seeds tests/fuzz/corpus/geotiff
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Seed {
  const char* name;
  int width, height, bands;
  GDALDataType type;
  std::vector<const char*> options;
  int epsg;
  bool nodata;
};

void Write(const std::string& dir, const Seed& s) {
  char** options = nullptr;
  for (std::size_t i = 0; i + 1 < s.options.size(); i += 2) options = CSLSetNameValue(options, s.options[i], s.options[i + 1]);
  const std::string path = dir + "/" + s.name;
  GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), s.width, s.height, s.bands, s.type, options);
  CSLDestroy(options);
  if (!ds) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return;
  }
  std::vector<double> buf(std::size_t(s.width) * s.height);
  for (int b = 1; b <= s.bands; ++b) {
    for (int r = 0; r < s.height; ++r)
      for (int c = 0; c < s.width; ++c) buf[std::size_t(r) * s.width + c] = (b * 40 + c * 9 + r * 5) % 200 + (s.type == GDT_Float32 ? 0.25 : 0);
    GDALRasterBandH band = GDALGetRasterBand(ds, b);
    if (GDALRasterIO(band, GF_Write, 0, 0, s.width, s.height, buf.data(), s.width, s.height, GDT_Float64, 0, 0) != CE_None)
      std::fprintf(stderr, "cannot write the pixels of %s\n", path.c_str());
    if (s.nodata) GDALSetRasterNoDataValue(band, 9);
  }
  if (s.epsg) {
    double gt[6] = {400000, 30, 0, 5500000, 0, -30};
    if (s.epsg == 4326) {
      gt[0] = 14.5;
      gt[1] = 0.0003;
      gt[3] = 50.1;
      gt[5] = -0.0003;
    }
    GDALSetGeoTransform(ds, gt);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, s.epsg);
    GDALSetSpatialRef(ds, srs);
    OSRDestroySpatialReference(srs);
  }
  GDALClose(ds);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  GDALAllRegister();
  const std::vector<Seed> seeds = {
      {"rgb_strips.tif", 12, 9, 3, GDT_Byte, {"BLOCKYSIZE", "2"}, 32633, false},
      {"rgb_tiles_deflate.tif", 20, 18, 3, GDT_Byte, {"TILED", "YES", "BLOCKXSIZE", "16", "BLOCKYSIZE", "16", "COMPRESS", "DEFLATE"}, 0, false},
      {"grey_lzw.tif", 10, 7, 1, GDT_Byte, {"COMPRESS", "LZW"}, 4326, false},
      {"rgba_packbits_band.tif", 8, 8, 4, GDT_Byte, {"COMPRESS", "PACKBITS", "INTERLEAVE", "BAND"}, 0, false},
      {"dem_float32.tif", 9, 6, 1, GDT_Float32, {"TILED", "YES", "BLOCKXSIZE", "16", "BLOCKYSIZE", "16"}, 32633, true},
      {"dem_int16.tif", 7, 5, 1, GDT_Int16, {"COMPRESS", "DEFLATE", "PREDICTOR", "2"}, 4326, true},
      {"bigtiff_rgb.tif", 6, 4, 3, GDT_Byte, {"BIGTIFF", "YES"}, 32633, false},
      {"two_bands_uint16.tif", 5, 5, 2, GDT_UInt16, {}, 0, false},
  };
  for (const Seed& s : seeds) Write(argv[1], s);
  return 0;
}
