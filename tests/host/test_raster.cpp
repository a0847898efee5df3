// GeoTIFF through the runtime: pictures (stripped and tiled, RGB, RGBA,
// grey) whole and by window, GetRasterInfo's georeferencing, SampleRaster,
// and CreateHeightField over windows and in metres. The files are written
// here with GDAL's own API, so the reader is checked against another writer.
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host_test_util.h"
#include "image_data.h"
#include "mesh.h"

namespace {

using testutil::Exec;
using testutil::Find;
using testutil::LastError;

struct TiffSpec {
  int width = 8, height = 6, bands = 3;
  GDALDataType type = GDT_Byte;
  bool tiled = false;
  int epsg = 0;  // with a geotransform when set
  double gt[6] = {500000, 10, 0, 5000000, 0, -10};
  std::optional<double> nodata;
};

// value(band, column, row from the top)
std::string WriteTiff(const std::string& path, const TiffSpec& s,
                      const std::function<double(int, int, int)>& value) {
  GDALAllRegister();
  GDALDriverH driver = GDALGetDriverByName("GTiff");
  char** options = nullptr;
  if (s.tiled) {
    options = CSLSetNameValue(options, "TILED", "YES");
    options = CSLSetNameValue(options, "BLOCKXSIZE", "16");
    options = CSLSetNameValue(options, "BLOCKYSIZE", "16");
  } else {
    options = CSLSetNameValue(options, "BLOCKYSIZE", "2");  // several strips
  }
  GDALDatasetH ds = GDALCreate(driver, path.c_str(), s.width, s.height, s.bands, s.type, options);
  CSLDestroy(options);
  EXPECT_NE(ds, nullptr) << path;
  if (!ds) return path;
  std::vector<double> buf(std::size_t(s.width) * s.height);
  for (int b = 1; b <= s.bands; ++b) {
    for (int r = 0; r < s.height; ++r)
      for (int c = 0; c < s.width; ++c) buf[std::size_t(r) * s.width + c] = value(b, c, r);
    GDALRasterBandH band = GDALGetRasterBand(ds, b);
    EXPECT_EQ(GDALRasterIO(band, GF_Write, 0, 0, s.width, s.height, buf.data(), s.width, s.height, GDT_Float64, 0, 0),
              CE_None);
    if (s.nodata) GDALSetRasterNoDataValue(band, *s.nodata);
  }
  if (s.epsg) {
    GDALSetGeoTransform(ds, const_cast<double*>(s.gt));
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, s.epsg);
    GDALSetSpatialRef(ds, srs);
    OSRDestroySpatialReference(srs);
  }
  GDALClose(ds);
  return path;
}

int Pattern(int band, int c, int r) { return (band * 50 + c * 7 + r * 13) % 256; }

const host::ClipRecord* Clip(const std::string& name) {
  return host::Runtime::Get().FindClip(XSI::CString::FromUtf8(name));
}

// Sample `k` of pixel (column, row from the top) of a clip's 8-bit picture.
int At(const XSI::ImagePixels& p, int c, int r, int k) {
  return p.Row(p.height - 1 - r)[std::size_t(c) * p.channels + k];
}

std::string Text(const XSI::CValue& v) { return v.GetAsText().GetUtf8String(); }

class Raster : public testutil::HostTest {
 protected:
  std::string Path(const std::string& name) const { return dir_.File(name); }
};

// ---- pictures ---------------------------------------------------------------

TEST_F(Raster, PicturesReadWholeAndByWindowInEveryLayout) {
  struct Case {
    const char* name;
    int bands;
    bool tiled;
  } cases[] = {{"rgb_strips.tif", 3, false}, {"rgb_tiles.tif", 3, true}, {"rgba.tif", 4, true},
               {"grey.tif", 1, false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TiffSpec s;
    s.width = 37;  // more than two tiles across, an odd size
    s.height = 21;
    s.bands = k.bands;
    s.tiled = k.tiled;
    const std::string path = WriteTiff(Path(k.name), s, Pattern);
    ASSERT_EQ(Exec(L"CreateImageClip", {XSI::CString::FromUtf8(path), L"whole"}), XSI::CStatus::OK) << LastError();
    const XSI::ImagePixels& whole = *Clip("whole")->image;
    ASSERT_EQ(whole.width, 37);
    ASSERT_EQ(whole.height, 21);
    ASSERT_EQ(whole.channels, k.bands);
    for (int r = 0; r < 21; ++r)
      for (int c = 0; c < 37; ++c)
        for (int b = 0; b < k.bands; ++b) ASSERT_EQ(At(whole, c, r, b), Pattern(b + 1, c, r)) << c << "," << r;
    // A window across tile and strip edges holds the same pixels.
    XSI::CValue ref;
    ASSERT_EQ(Exec(L"CreateImageClip", {XSI::CString::FromUtf8(path), L"part", 14, 3, 20, 17}, &ref),
              XSI::CStatus::OK)
        << LastError();
    const XSI::ImagePixels& part = *Clip("part")->image;
    ASSERT_EQ(part.width, 20);
    ASSERT_EQ(part.height, 17);
    for (int r = 0; r < 17; ++r)
      for (int c = 0; c < 20; ++c)
        for (int b = 0; b < k.bands; ++b) ASSERT_EQ(At(part, c, r, b), At(whole, c + 14, r + 3, b));
    // The grey picture reads r = g = b through the SDK.
    if (k.bands == 1) {
      XSI::ImageClip2 clip(ref.GetAsRef());
      XSI::CColor colour;
      ASSERT_EQ(clip.GetImage().GetPixelValue(0, 0, colour), XSI::CStatus::OK);
      EXPECT_EQ(colour.r, colour.g);
      EXPECT_EQ(colour.g, colour.b);
    }
    host::Runtime::Get().ResetScene();
  }
}

TEST_F(Raster, TiffBytesInMemoryReadAsTheFileDoes) {
  TiffSpec s;
  s.tiled = true;
  const std::string path = WriteTiff(Path("m.tif"), s, Pattern);
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string error;
  auto mem = host::LoadImageMemory(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), "mem", error);
  ASSERT_TRUE(mem) << error;
  auto file = host::LoadImageFile(path, error);
  ASSERT_TRUE(file) << error;
  ASSERT_EQ(mem->width, file->width);
  ASSERT_EQ(mem->height, file->height);
  EXPECT_EQ(0, std::memcmp(mem->rows, file->rows, file->rowBytes * std::size_t(file->height)));
  // Cut short in memory: refused with the name given.
  EXPECT_FALSE(host::LoadImageMemory(reinterpret_cast<const std::uint8_t*>(bytes.data()), 40, "cut", error));
  EXPECT_EQ(error.rfind("cannot read image 'cut': ", 0), 0u) << error;
}

TEST_F(Raster, WindowClipsAreNeitherTheWholeClipNorShareItsPixels) {
  const std::string path = WriteTiff(Path("map.tif"), TiffSpec(), Pattern);
  XSI::CValue whole, again, part, otherPart, partUnderOtherName;
  const XSI::CString p = XSI::CString::FromUtf8(path);
  ASSERT_EQ(Exec(L"CreateImageClip", {p, L"map"}, &whole), XSI::CStatus::OK);
  ASSERT_EQ(Exec(L"CreateImageClip", {p, L"map", 1, 1, 2, 2}, &part), XSI::CStatus::OK);
  ASSERT_EQ(Exec(L"CreateImageClip", {p, L"map", 1, 1, 3, 2}, &otherPart), XSI::CStatus::OK);
  ASSERT_EQ(Exec(L"CreateImageClip", {p, L"map"}, &again), XSI::CStatus::OK);
  ASSERT_EQ(Exec(L"CreateImageClip", {p, L"copy", 1, 1, 2, 2}, &partUnderOtherName), XSI::CStatus::OK);
  const auto id = [](const XSI::CValue& v) { return v.GetAsRef().GetId(); };
  EXPECT_EQ(id(whole), id(again));
  EXPECT_NE(id(whole), id(part));
  EXPECT_NE(id(part), id(otherPart));
  std::vector<const host::ClipRecord*> clips = host::Runtime::Get().Clips();
  ASSERT_EQ(clips.size(), 4u);
  EXPECT_EQ(clips[0]->image->width, 8);
  EXPECT_EQ(clips[1]->image->width, 2);
  EXPECT_EQ(clips[2]->image->width, 3);
  EXPECT_NE(clips[0]->image, clips[1]->image);
  EXPECT_EQ(clips[3]->image, clips[1]->image);  // same file, same window
}

TEST_F(Raster, WindowsOfOtherFormatsAreCroppedFromTheDecodedPicture) {
  // A BMP written by hand: 3 x 2, bottom-up rows, red = 10 * (column + 3 * row from top).
  const int w = 3, h = 2, stride = 12;
  std::vector<std::uint8_t> b(54 + stride * h, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, std::uint32_t(b.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, w);
  put32(22, h);
  b[26] = 1;
  b[28] = 24;
  for (int row = 0; row < h; ++row)
    for (int c = 0; c < w; ++c) b[54 + std::size_t(h - 1 - row) * stride + c * 3 + 2] = std::uint8_t(10 * (c + 3 * row));
  const std::string path = Path("small.bmp");
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  ASSERT_EQ(Exec(L"CreateImageClip", {XSI::CString::FromUtf8(path), L"p", 1, 1, 2, 1}), XSI::CStatus::OK) << LastError();
  const XSI::ImagePixels& part = *Clip("p")->image;
  ASSERT_EQ(part.width, 2);
  ASSERT_EQ(part.height, 1);
  EXPECT_EQ(At(part, 0, 0, 0), 40);
  EXPECT_EQ(At(part, 1, 0, 0), 50);
  EXPECT_EQ(Exec(L"CreateImageClip", {XSI::CString::FromUtf8(path), L"q", 2, 0, 2, 1}), XSI::CStatus::Fail);
  EXPECT_NE(LastError().find("is not inside the image of 3 x 2 pixels"), std::string::npos) << LastError();
  EXPECT_NE(LastError().find(path), std::string::npos);
}

TEST_F(Raster, BadWindowsAndBadFilesAreRefusedByName) {
  const std::string path = WriteTiff(Path("map.tif"), TiffSpec(), Pattern);
  const XSI::CString p = XSI::CString::FromUtf8(path);
  // Outside the raster, and arguments that are no window.
  EXPECT_EQ(Exec(L"CreateImageClip", {p, L"a", 4, 0, 5, 6}), XSI::CStatus::Fail);
  EXPECT_EQ(LastError(), "CreateImageClip: cannot read image '" + path +
                             "': the window of 5 x 6 pixels at (4, 0) is not inside the raster of 8 x 6 pixels");
  EXPECT_EQ(Exec(L"CreateImageClip", {p, L"a", 0, 0, 0, 6}), XSI::CStatus::InvalidArgument);
  EXPECT_NE(LastError().find("width must be a whole number of pixels >= 1, got '0'"), std::string::npos);
  EXPECT_EQ(Exec(L"CreateImageClip", {p, L"a", -1, 0, 2, 2}), XSI::CStatus::InvalidArgument);
  EXPECT_EQ(Exec(L"CreateImageClip", {p, L"a", 0, 0, 2}), XSI::CStatus::InvalidArgument);
  EXPECT_NE(LastError().find("height must be a whole number of pixels >= 1, got nothing"), std::string::npos);
  EXPECT_EQ(Exec(L"CreateImageClip", {p, L"a", 0.5, 0, 2, 2}), XSI::CStatus::InvalidArgument);
  EXPECT_TRUE(host::Runtime::Get().Clips().empty());

  // Cut short: GDAL finds the strips missing.
  TiffSpec big;
  big.width = 64;
  big.height = 64;
  const std::string full = WriteTiff(Path("big.tif"), big, Pattern);
  std::filesystem::resize_file(full, std::filesystem::file_size(full) / 2);
  EXPECT_EQ(Exec(L"CreateImageClip", {XSI::CString::FromUtf8(full)}), XSI::CStatus::Fail);
  EXPECT_EQ(LastError().rfind("CreateImageClip: cannot read image '" + full + "': ", 0), 0u) << LastError();
  // A TIFF header followed by garbage.
  const std::string junk = dir_.Write("junk.tif", std::string("II*\0", 4) + std::string(200, '\x7f'));
  EXPECT_EQ(Exec(L"CreateImageClip", {XSI::CString::FromUtf8(junk)}), XSI::CStatus::Fail);
  EXPECT_EQ(LastError().rfind("CreateImageClip: cannot read image '" + junk + "': cannot be opened as a TIFF file", 0),
            0u)
      << LastError();
  // Not a regular file, though the name says TIFF.
  const std::string fifo = Path("pipe.tif");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(Exec(L"GetRasterInfo", {XSI::CString::FromUtf8(fifo)}), XSI::CStatus::Fail);
  EXPECT_NE(LastError().find("not a regular file"), std::string::npos) << LastError();
  // Elevation values are no picture.
  TiffSpec dem;
  dem.bands = 1;
  dem.type = GDT_Float32;
  const std::string demPath = WriteTiff(Path("dem.tif"), dem, [](int, int c, int) { return c * 0.5; });
  EXPECT_EQ(Exec(L"CreateImageClip", {XSI::CString::FromUtf8(demPath)}), XSI::CStatus::Fail);
  EXPECT_NE(LastError().find("band 1 holds Float32 values; a picture has 8-bit (Byte) bands"), std::string::npos)
      << LastError();
  EXPECT_TRUE(host::Runtime::Get().Clips().empty());
}

// ---- GetRasterInfo ------------------------------------------------------------

// Latitude on the central meridian of a UTM zone for a northing, by the
// meridian arc series of the WGS84 ellipsoid (independent of PROJ).
double UtmLatitudeOnCentralMeridian(double northing) {
  const double a = 6378137.0, f = 1 / 298.257223563, e2 = f * (2 - f), e4 = e2 * e2, e6 = e4 * e2;
  const auto arc = [&](double phi) {
    return a * ((1 - e2 / 4 - 3 * e4 / 64 - 5 * e6 / 256) * phi - (3 * e2 / 8 + 3 * e4 / 32 + 45 * e6 / 1024) * std::sin(2 * phi) +
                (15 * e4 / 256 + 45 * e6 / 1024) * std::sin(4 * phi) - (35 * e6 / 3072) * std::sin(6 * phi));
  };
  double lo = 0, hi = M_PI / 2;
  for (int i = 0; i < 200; ++i) {
    const double mid = (lo + hi) / 2;
    (arc(mid) * 0.9996 < northing ? lo : hi) = mid;
  }
  return lo * 180 / M_PI;
}

// The number at the start of `text` (JSON writes '.', whatever the locale).
double LeadingNumber(const char* text) {
  std::size_t n = 0;
  while (text[n] && std::strchr("+-.0123456789eE", text[n])) ++n;
  double d = NAN;
  XSI::ReadNumber(std::string_view(text, n), d);
  return d;
}

double JsonNumber(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\":");
  EXPECT_NE(at, std::string::npos) << key << " in " << json;
  return at == std::string::npos ? NAN : LeadingNumber(json.c_str() + at + key.size() + 3);
}

TEST_F(Raster, InfoPlacesAUtmRasterOnEarth) {
  // 200 x 100 pixels of 10 m whose centre is easting 500000 (zone 33's
  // central meridian, 15 E), northing 5000000.
  TiffSpec s;
  s.width = 200;
  s.height = 100;
  s.epsg = 32633;
  const double gt[6] = {500000 - 100 * 10, 10, 0, 5000000 + 50 * 10, 0, -10};
  std::memcpy(s.gt, gt, sizeof gt);
  const std::string path = WriteTiff(Path("utm.tif"), s, Pattern);
  XSI::CValue out;
  ASSERT_EQ(Exec(L"GetRasterInfo", {XSI::CString::FromUtf8(path)}, &out), XSI::CStatus::OK) << LastError();
  const std::string json = Text(out);
  EXPECT_EQ(json.substr(0, json.find(",\"pixel_size_m\"")),
            R"({"width":200,"height":100,"bands":3,"type":"Byte","georeferenced":true,"crs":"EPSG:32633")");
  EXPECT_NE(json.find(R"("pixel_size_m":[10,10])"), std::string::npos) << json;
  EXPECT_NEAR(JsonNumber(json, "lon"), 15.0, 1e-9);
  EXPECT_NEAR(JsonNumber(json, "lat"), UtmLatitudeOnCentralMeridian(5000000), 1e-7);

  // Degrees: a pixel of 0.001 degrees at 60 N is about 55.8 m east-west and
  // 111.4 m north-south.
  TiffSpec g;
  g.epsg = 4326;
  const double ggt[6] = {10 - 4 * 0.001, 0.001, 0, 60 + 3 * 0.001, 0, -0.001};
  std::memcpy(g.gt, ggt, sizeof ggt);
  ASSERT_EQ(Exec(L"GetRasterInfo", {XSI::CString::FromUtf8(WriteTiff(Path("geo.tif"), g, Pattern))}, &out),
            XSI::CStatus::OK);
  const std::string geo = Text(out);
  EXPECT_NE(geo.find("\"crs\":\"EPSG:4326\""), std::string::npos) << geo;
  const std::size_t sizes = geo.find("\"pixel_size_m\":[") + 16;
  EXPECT_NEAR(LeadingNumber(geo.c_str() + sizes), 55.80, 0.05) << geo;
  EXPECT_NEAR(LeadingNumber(geo.c_str() + geo.find(',', sizes) + 1), 111.41, 0.05) << geo;
  EXPECT_NEAR(JsonNumber(geo, "lon"), 10.0, 1e-12);
  EXPECT_NEAR(JsonNumber(geo, "lat"), 60.0, 1e-12);

  // No georeferencing, and another format.
  TiffSpec plain;
  plain.bands = 1;
  plain.type = GDT_Int16;
  ASSERT_EQ(Exec(L"GetRasterInfo", {XSI::CString::FromUtf8(WriteTiff(Path("plain.tif"), plain, Pattern))}, &out),
            XSI::CStatus::OK);
  EXPECT_EQ(Text(out), R"({"width":8,"height":6,"bands":1,"type":"Int16","georeferenced":false})");
  EXPECT_EQ(Exec(L"GetRasterInfo", {L""}), XSI::CStatus::InvalidArgument);
  EXPECT_EQ(Exec(L"GetRasterInfo", {XSI::CString::FromUtf8(Path("none.tif"))}), XSI::CStatus::Fail);
  EXPECT_NE(LastError().find("no such file"), std::string::npos) << LastError();
}

TEST_F(Raster, FuzzFindingsAreReadWithoutHarm) {
  // A geographic CRS labelled with EPSG:4352, a geocentric code: PROJ
  // crashed looking for its transformation. Not placed on Earth now.
  const std::string dir = std::string(XSI_SOURCE_DIR) + "/tests/host/fixtures/geotiff/";
  XSI::CValue out;
  ASSERT_EQ(Exec(L"GetRasterInfo", {XSI::CString::FromUtf8(dir + "geographic_crs_with_geocentric_code.tif")}, &out),
            XSI::CStatus::OK)
      << LastError();
  EXPECT_NE(Text(out).find("\"georeferenced\":false"), std::string::npos) << Text(out);
}

// ---- SampleRaster -------------------------------------------------------------

TEST_F(Raster, SamplesBandOneAtPointsInTheirOrder) {
  TiffSpec rgb;
  rgb.width = 40;
  rgb.height = 30;
  rgb.tiled = true;
  const XSI::CString p = XSI::CString::FromUtf8(WriteTiff(Path("rgb.tif"), rgb, Pattern));
  XSI::CValue out;
  ASSERT_EQ(Exec(L"SampleRaster", {p, L"0 0; 39 29;17 3;17 3;2 20;"}, &out), XSI::CStatus::OK) << LastError();
  const auto red = [](int c, int r) { return std::to_string(Pattern(1, c, r)); };
  EXPECT_EQ(Text(out), red(0, 0) + ";" + red(39, 29) + ";" + red(17, 3) + ";" + red(17, 3) + ";" + red(2, 20));

  TiffSpec dem;
  dem.bands = 1;
  dem.type = GDT_Float32;
  dem.nodata = -9999;
  const XSI::CString d = XSI::CString::FromUtf8(WriteTiff(Path("dem.tif"), dem, [](int, int c, int r) {
    return c == 5 && r == 4 ? -9999.0 : r == 1 ? 0.1 : 100.25 - c * 3 - r;
  }));
  ASSERT_EQ(Exec(L"SampleRaster", {d, L"1 1;0 0;7 5"}, &out), XSI::CStatus::OK) << LastError();
  EXPECT_EQ(Text(out), "0.1;100.25;74.25");  // Float32 values as their shortest text
  EXPECT_EQ(Exec(L"SampleRaster", {d, L"0 0;5 4"}), XSI::CStatus::Fail);
  EXPECT_EQ(LastError(), "SampleRaster: point 2 (column 5, row 4) of '" + std::string(d.GetUtf8String()) +
                             "' holds no data (-9999)");
  EXPECT_EQ(Exec(L"SampleRaster", {d, L"0 0;8 0"}), XSI::CStatus::InvalidArgument);
  EXPECT_NE(LastError().find("point 2 (column 8, row 0) is outside"), std::string::npos) << LastError();
  // Columns and rows are read as the host reads numbers (XSI::ReadNumber):
  // blanks between and around, "7.0" and "1e0" are whole; hexadecimal, a
  // decimal comma, a number run into a word, or infinity are not.
  ASSERT_EQ(Exec(L"SampleRaster", {d, L"\t7.0 \t5\r\n;1e0 1 "}, &out), XSI::CStatus::OK) << LastError();
  EXPECT_EQ(Text(out), "74.25;0.1");
  for (const wchar_t* bad : {L"0x1 0", L"1,0 2", L"1 2x", L"inf 0", L"1 nan", L"1;2 3"}) {
    EXPECT_EQ(Exec(L"SampleRaster", {d, bad}), XSI::CStatus::InvalidArgument) << XSI::CString(bad).GetUtf8String();
  }
  for (const wchar_t* bad : {L"", L"1", L"1 2 3", L"1.5 2", L"-1 0", L"a b", L"1 2;;3 4"}) {
    EXPECT_EQ(Exec(L"SampleRaster", {d, bad}), XSI::CStatus::InvalidArgument) << XSI::CString(bad).GetUtf8String();
  }

  // Whole-number bands keep their sign and their range.
  const struct {
    GDALDataType type;
    double extreme;
    const char* text;
  } types[] = {{GDT_Int16, -32768, "-32768"},
               {GDT_UInt16, 65535, "65535"},
               {GDT_Int32, -2147483648.0, "-2147483648"},
               {GDT_Float64, 1e300, "1e+300"}};
  for (const auto& k : types) {
    SCOPED_TRACE(GDALGetDataTypeName(k.type));
    TiffSpec t;
    t.bands = 1;
    t.type = k.type;
    const std::string name = std::string("t") + GDALGetDataTypeName(k.type) + ".tif";
    const XSI::CString q = XSI::CString::FromUtf8(WriteTiff(Path(name), t, [&](int, int c, int r) {
      return c == 0 && r == 0 ? k.extreme : k.type == GDT_UInt16 ? c + r : -(c + r);
    }));
    ASSERT_EQ(Exec(L"SampleRaster", {q, L"0 0;3 2"}, &out), XSI::CStatus::OK) << LastError();
    EXPECT_EQ(Text(out), std::string(k.text) + (k.type == GDT_UInt16 ? ";5" : ";-5"));
  }

  // Other formats: the red level findSpots reads.
  const std::string bmp = Path("one.bmp");
  std::vector<std::uint8_t> b(58, 0);
  b[0] = 'B';
  b[1] = 'M';
  b[2] = 58;
  b[10] = 54;
  b[14] = 40;
  b[18] = 1;
  b[22] = 1;
  b[26] = 1;
  b[28] = 24;
  b[54 + 2] = 201;  // red
  std::ofstream(bmp, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  ASSERT_EQ(Exec(L"SampleRaster", {XSI::CString::FromUtf8(bmp), L"0 0"}, &out), XSI::CStatus::OK) << LastError();
  EXPECT_EQ(Text(out), "201");
}

// ---- CreateHeightField over windows -------------------------------------------

std::vector<host::Vec3> Positions(const wchar_t* name) {
  host::SceneObject* obj = Find(name);
  EXPECT_NE(obj, nullptr);
  return obj ? obj->geometry.Snapshot()->positions : std::vector<host::Vec3>{};
}

TEST_F(Raster, WindowTerrainIsTheWholeTerrainAtTheSamePixels) {
  TiffSpec s;
  s.width = 37;
  s.height = 21;
  s.tiled = true;
  const std::string tif = WriteTiff(Path("hills.tif"), s, Pattern);
  const XSI::CString p = XSI::CString::FromUtf8(tif);
  // One scene unit a pixel, so the two grids share their cells.
  ASSERT_EQ(Exec(L"CreateHeightField", {p, L"whole", 37, 21, 10, 1}), XSI::CStatus::OK) << LastError();
  for (int step : {1, 3}) {
    SCOPED_TRACE(step);
    const XSI::CString name = step == 1 ? L"part1" : L"part3";
    ASSERT_EQ(Exec(L"CreateHeightField", {p, name, 20, 11, 10, step, 14, 3, 20, 11}), XSI::CStatus::OK)
        << LastError();
    const std::vector<host::Vec3> whole = Positions(L"whole"), part = Positions(step == 1 ? L"part1" : L"part3");
    std::vector<int> cols, rows;
    for (int c = 0; c < 20; c += step) cols.push_back(c);
    if (cols.back() != 19) cols.push_back(19);
    for (int r = 0; r < 11; r += step) rows.push_back(r);
    if (rows.back() != 10) rows.push_back(10);
    ASSERT_EQ(part.size(), cols.size() * rows.size());
    // Window X = whole X - (14 + 20/2 - 37/2); Z likewise with 3, 11, 21.
    const float dx = 14 + 10 - 18.5f, dz = 3 + 5.5f - 10.5f;
    for (std::size_t ri = 0; ri < rows.size(); ++ri)
      for (std::size_t ci = 0; ci < cols.size(); ++ci) {
        const host::Vec3 w = whole[std::size_t(rows[ri] + 3) * 37 + std::size_t(cols[ci] + 14)];
        const host::Vec3 v = part[ri * cols.size() + ci];
        EXPECT_NEAR(v.x, w.x - dx, 1e-4);
        EXPECT_EQ(v.y, w.y);
        EXPECT_NEAR(v.z, w.z - dz, 1e-4);
      }
  }
  // Without the new arguments a TIFF is decoded whole and built as any
  // picture is; read row by row as the whole window, it builds the same.
  ASSERT_EQ(Exec(L"CreateHeightField", {p, L"all", 37, 21, 10, 1, 0, 0, 37, 21, L"levels"}), XSI::CStatus::OK);
  EXPECT_EQ(Positions(L"all").size(), Positions(L"whole").size());
  const std::vector<host::Vec3> a = Positions(L"all"), w = Positions(L"whole");
  EXPECT_EQ(0, std::memcmp(a.data(), w.data(), a.size() * sizeof(host::Vec3)));
}

// A 24-bit BMP with red = red(column, row from the top), green and blue 0.
std::string WriteRedBmp(const std::string& path, int w, int h, const std::function<int(int, int)>& red) {
  const int stride = (w * 3 + 3) / 4 * 4;
  std::vector<std::uint8_t> b(54 + std::size_t(stride) * h, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, std::uint32_t(b.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, std::uint32_t(w));
  put32(22, std::uint32_t(h));
  b[26] = 1;
  b[28] = 24;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) b[54 + std::size_t(h - 1 - r) * stride + std::size_t(c) * 3 + 2] = std::uint8_t(red(c, r));
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  return path;
}

TEST_F(Raster, AWindowOfABmpBuildsAsTheSameWindowOfATiff) {
  // Decoded whole and cut, or read row by row through GDAL: the same grid.
  const auto red = [](int c, int r) { return Pattern(1, c, r); };
  TiffSpec s;
  s.width = 23;
  s.height = 17;
  const XSI::CString tif = XSI::CString::FromUtf8(WriteTiff(Path("m.tif"), s, Pattern));
  const XSI::CString bmp = XSI::CString::FromUtf8(WriteRedBmp(Path("m.bmp"), 23, 17, red));
  for (const wchar_t* units : {L"levels", L"metres"}) {
    SCOPED_TRACE(XSI::CString(units).GetUtf8String());
    ASSERT_EQ(Exec(L"CreateHeightField", {tif, L"a", 9, 7, 0.5, 2, 5, 6, 9, 7, units}), XSI::CStatus::OK) << LastError();
    ASSERT_EQ(Exec(L"CreateHeightField", {bmp, L"b", 9, 7, 0.5, 2, 5, 6, 9, 7, units}), XSI::CStatus::OK) << LastError();
    const std::vector<host::Vec3> a = Positions(L"a"), b = Positions(L"b");
    ASSERT_EQ(a.size(), 20u);  // columns 0 2 4 6 8, rows 0 2 4 6
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(host::Vec3)));
    // Metres: the raw red value times height; levels: red * height / 255.
    const double expected = std::wstring(units) == L"metres" ? red(5, 6) * 0.5 : red(5, 6) * 0.5 / 255.0;
    EXPECT_FLOAT_EQ(a[0].y, float(expected));
    ASSERT_EQ(Exec(L"DeleteObj", {L"a,b"}), XSI::CStatus::OK);
  }
  EXPECT_EQ(Exec(L"CreateHeightField", {bmp, L"c", 9, 7, 1, 1, 20, 0, 9, 7}), XSI::CStatus::InvalidArgument);
  EXPECT_NE(LastError().find("is not inside the image of 23 x 17 pixels"), std::string::npos) << LastError();
}

TEST_F(Raster, MetresTerrainFromADemAndItsRefusals) {
  TiffSpec dem;
  dem.width = 9;
  dem.height = 7;
  dem.bands = 1;
  dem.type = GDT_Float32;
  dem.epsg = 32633;
  dem.nodata = -32768;
  const auto heights = [](int, int c, int r) { return c == 8 && r == 6 ? -32768.0 : 250.5 + c - 2 * r; };
  const XSI::CString p = XSI::CString::FromUtf8(WriteTiff(Path("dem.tif"), dem, heights));
  // height 2: two scene units a metre.
  ASSERT_EQ(Exec(L"CreateHeightField", {p, L"t", 4, 3, 2, 1, 2, 1, 4, 3, L"metres"}), XSI::CStatus::OK)
      << LastError();
  const std::vector<host::Vec3> t = Positions(L"t");
  ASSERT_EQ(t.size(), 12u);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(t[std::size_t(r) * 4 + c].y, float((250.5 + (c + 2) - 2 * (r + 1)) * 2));
  EXPECT_FLOAT_EQ(t[0].x, -1.5f);  // centred on the window
  EXPECT_FLOAT_EQ(t[0].z, -1.0f);

  // The nodata corner, levels of a DEM, a window outside, bad units: nothing added.
  const std::size_t before = host::Runtime::Get().GetScene().Objects().size();
  EXPECT_EQ(Exec(L"CreateHeightField", {p, L"u", 9, 7, 1, 1, L"", L"", L"", L"", L"metres"}), XSI::CStatus::InvalidArgument);
  EXPECT_EQ(LastError(), "CreateHeightField: cannot build a terrain from image '" + std::string(p.GetUtf8String()) +
                             "': pixel (column 8, row 6) of '" + p.GetUtf8String() + "' holds no data");
  EXPECT_EQ(Exec(L"CreateHeightField", {p, L"u", 9, 7, 1, 1}), XSI::CStatus::Fail);
  EXPECT_NE(LastError().find("Float32"), std::string::npos) << LastError();
  EXPECT_EQ(Exec(L"CreateHeightField", {p, L"u", 9, 7, 1, 1, 0, 0, 9, 7, L"levels"}), XSI::CStatus::InvalidArgument);
  EXPECT_NE(LastError().find("use units \"metres\""), std::string::npos) << LastError();
  EXPECT_EQ(Exec(L"CreateHeightField", {p, L"u", 9, 7, 1, 1, 5, 0, 5, 7, L"metres"}), XSI::CStatus::InvalidArgument);
  EXPECT_NE(LastError().find("is not inside the raster of 9 x 7 pixels"), std::string::npos) << LastError();
  EXPECT_EQ(Exec(L"CreateHeightField", {p, L"u", 9, 7, 1, 1, 0, 0, 2, 2, L"feet"}), XSI::CStatus::InvalidArgument);
  EXPECT_NE(LastError().find("units must be \"levels\" or \"metres\", got 'feet'"), std::string::npos);
  EXPECT_EQ(host::Runtime::Get().GetScene().Objects().size(), before);
  EXPECT_EQ(Find(L"u"), nullptr);
}

}  // namespace
