// Image loading and pixel reads: orientation across storage orders, component
// scale for 8- and 16-bit data, grey and alpha handling, reads outside the
// image, and load errors that name the file.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>

#include <sys/stat.h>

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>
#include <stb_image.h>
#include <jpeglib.h>
#include <stb_image_write.h>

#include "host_test_util.h"
#include "image_data.h"
#include "xsi_image.h"

namespace {

using XSI::CColor;
using XSI::CStatus;
using XSI::Image;

std::string Fixture(const std::string& name) {
  return std::string(XSI_SOURCE_DIR) + "/tests/host/fixtures/images/" + name;
}

Image Load(const std::string& name) {
  std::string error;
  auto data = host::LoadImageFile(Fixture(name), error);
  EXPECT_TRUE(data) << error;
  EXPECT_TRUE(error.empty()) << error;
  return Image(data);
}

std::string LoadError(const std::string& path) {
  std::string error;
  auto data = host::LoadImageFile(path, error);
  EXPECT_FALSE(data) << path << " loaded but should not";
  return error;
}

CColor Pixel(const Image& img, float x, float y) {
  CColor c;
  c.r = c.g = c.b = c.a = -1.0;
  EXPECT_EQ(img.GetPixelValue(x, y, c), CStatus::OK) << "at " << x << "," << y;
  return c;
}

// The stored bytes with the top row first, as files and stb_image give them
// (the host keeps the bottom row first).
std::vector<std::uint8_t> TopDownBytes(const XSI::ImagePixels& d) {
  std::vector<std::uint8_t> out;
  for (int y = d.height - 1; y >= 0; --y) out.insert(out.end(), d.Row(y), d.Row(y) + d.rowBytes);
  return out;
}

std::vector<std::uint16_t> TopDownSamples16(const XSI::ImagePixels& d) {
  const std::vector<std::uint8_t> bytes = TopDownBytes(d);
  std::vector<std::uint16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

void ExpectColour(const CColor& c, double r, double g, double b, double a) {
  EXPECT_DOUBLE_EQ(c.r, r);
  EXPECT_DOUBLE_EQ(c.g, g);
  EXPECT_DOUBLE_EQ(c.b, b);
  EXPECT_DOUBLE_EQ(c.a, a);
}

// Every orientation fixture shows red green / blue white (top row first), so
// (0, 0) is blue whether the file stores rows bottom-up or top-down.
class Orientation : public ::testing::TestWithParam<const char*> {};

TEST_P(Orientation, OriginIsTheBottomLeftPixel) {
  Image img = Load(GetParam());
  ASSERT_EQ(img.GetResX(), 2);
  ASSERT_EQ(img.GetResY(), 2);
  EXPECT_EQ(img.GetNumChannels(), 3);
  ExpectColour(Pixel(img, 0, 0), 0, 0, 1, 1);  // blue
  ExpectColour(Pixel(img, 1, 0), 1, 1, 1, 1);  // white
  ExpectColour(Pixel(img, 0, 1), 1, 0, 0, 1);  // red
  ExpectColour(Pixel(img, 1, 1), 0, 1, 0, 1);  // green
}

TEST_P(Orientation, FractionalCoordinatesTruncateTowardZero) {
  Image img = Load(GetParam());
  ExpectColour(Pixel(img, 0.99f, 0.99f), 0, 0, 1, 1);
  ExpectColour(Pixel(img, 1.5f, 0.0f), 1, 1, 1, 1);
  ExpectColour(Pixel(img, 0.0f, 1.999f), 1, 0, 0, 1);
  ExpectColour(Pixel(img, -0.0f, -0.0f), 0, 0, 1, 1);
}

INSTANTIATE_TEST_SUITE_P(StorageOrders, Orientation,
                         ::testing::Values("orientation_2x2_bottomup.bmp",
                                           "orientation_2x2_topdown.bmp",
                                           "orientation_2x2_topdown.png",
                                           "orientation_2x2_bottomup.tga"));

TEST(ImageScale, SixteenBitPngKeepsSixteenBits) {
  std::string error;
  auto data = host::LoadImageFile(Fixture("rgb16_2x1.png"), error);
  ASSERT_TRUE(data) << error;
  EXPECT_EQ(data->bitsPerChannel, 16);
  EXPECT_EQ(data->channels, 3);
  EXPECT_EQ(data->rowBytes, 12u);
  Image img(data);
  ExpectColour(Pixel(img, 0, 0), 1.0, 32768 / 65535.0, 0.0, 1.0);
  ExpectColour(Pixel(img, 1, 0), 1 / 65535.0, 2 / 65535.0, 3 / 65535.0, 1.0);
}

TEST(ImageScale, EightBitComponentsAreOver255) {
  Image img = Load("rgba8_1x1.png");
  EXPECT_EQ(img.GetNumChannels(), 4);
  ExpectColour(Pixel(img, 0, 0), 10 / 255.0, 20 / 255.0, 30 / 255.0, 40 / 255.0);
}

TEST(ImageScale, GreySpreadsToRgbAndMissingAlphaIsOpaque) {
  Image img = Load("grey8_2x1.png");
  EXPECT_EQ(img.GetNumChannels(), 1);
  ExpectColour(Pixel(img, 0, 0), 0, 0, 0, 1);
  ExpectColour(Pixel(img, 1, 0), 128 / 255.0, 128 / 255.0, 128 / 255.0, 1);
}

TEST(ImageScale, GreyWithAlphaSixteenBit) {
  Image img = Load("greyalpha16_1x1.png");
  EXPECT_EQ(img.GetNumChannels(), 2);
  const double half = 32768 / 65535.0;
  ExpectColour(Pixel(img, 0, 0), half, half, half, 1.0);
}

TEST(ImageScale, GreyJpegKeepsOneChannel) {
  Image img = Load("grey200_8x8.jpg");
  ASSERT_EQ(img.GetResX(), 8);
  ASSERT_EQ(img.GetResY(), 8);
  EXPECT_EQ(img.GetNumChannels(), 1);
  for (float y = 0; y < 8; ++y)
    for (float x = 0; x < 8; ++x) {
      CColor c = Pixel(img, x, y);
      EXPECT_NEAR(c.r, 200 / 255.0, 2 / 255.0);
      EXPECT_EQ(c.r, c.g);
      EXPECT_EQ(c.r, c.b);
      EXPECT_EQ(c.a, 1.0);
    }
}

TEST(ImageBounds, ReadsOutsideFailAndLeaveTheColourAlone) {
  Image img = Load("orientation_2x2_topdown.png");
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float outside[][2] = {{-1, 0},   {2, 0},    {0, 2},    {0, -1},   {-0.5f, 0}, {0, -0.01f},
                              {2.0f, 1}, {nan, 0},  {0, nan},  {inf, 0},  {0, inf},   {-inf, 0},
                              {1e30f, 0}, {0, -1e30f}};
  for (const auto& p : outside) {
    CColor c;
    c.r = 0.25;
    c.g = 0.5;
    c.b = 0.75;
    c.a = 0.125;
    EXPECT_EQ(img.GetPixelValue(p[0], p[1], c), CStatus::Fail) << p[0] << "," << p[1];
    ExpectColour(c, 0.25, 0.5, 0.75, 0.125);
  }
}

TEST(ImageBounds, InvalidImageHasNoPixels) {
  Image img;
  EXPECT_FALSE(img.IsValid());
  EXPECT_EQ(img.GetResX(), 0);
  EXPECT_EQ(img.GetResY(), 0);
  EXPECT_EQ(img.GetNumChannels(), 0);
  CColor c;
  c.r = 0.5;
  EXPECT_EQ(img.GetPixelValue(0, 0, c), CStatus::Fail);
  EXPECT_EQ(c.r, 0.5);
}

TEST(ImageBounds, ShortBufferIsRefusedNotRead) {
  // Data not built by the loader (fewer bytes than its size says) gives an
  // invalid Image, since the inline reads trust the shape.
  auto data = std::make_shared<XSI::detail::ImageData>();
  data->Allocate(1, 1, 3, 8);
  data->width = 4;
  data->height = 4;
  Image img(data);
  EXPECT_FALSE(img.IsValid());
  CColor c;
  EXPECT_EQ(img.GetPixelValue(0, 0, c), CStatus::Fail);
  EXPECT_EQ(img.GetPixelValue(3, 3, c), CStatus::Fail);
  data->width = 1;
  data->height = 1;
  EXPECT_TRUE(Image(data).IsValid());
}

// ---- load errors -----------------------------------------------------------

// A fresh folder per test, removed after it.
class ScratchDir : public ::testing::Test {
 protected:
  testsupport::TempDir tmp_{"xsi_test_images"};
  const std::filesystem::path dir_ = tmp_.path();
};

TEST(ImageErrors, MissingFileIsNamed) {
  const std::string path = Fixture("no_such_picture.png");
  EXPECT_EQ(LoadError(path), "cannot read image '" + path + "': no such file");
}

TEST(ImageErrors, MissingFolderIsNoSuchFile) {
  const std::string path = Fixture("no_such_folder/picture.png");
  EXPECT_EQ(LoadError(path), "cannot read image '" + path + "': no such file");
}

TEST(ImageErrors, UndecodableFilesNameTheFileAndTheReason) {
  const std::string text = Fixture("not_an_image.png");
  EXPECT_EQ(LoadError(text),
            "cannot read image '" + text + "': unknown image type (not BMP, PNG, JPEG, TGA or TIFF)");
  const std::string zero = Fixture("zero_width.png");
  EXPECT_EQ(LoadError(zero), "cannot read image '" + zero + "': image has no pixels");
  const std::string cut = Fixture("truncated.png");
  EXPECT_EQ(LoadError(cut), "cannot read image '" + cut + "': truncated at byte 40");
}

TEST(ImageErrors, EmptyPathIsRefused) { EXPECT_NE(LoadError("").find("no file name"), std::string::npos); }

TEST_F(ScratchDir, EmptyFileSaysSo) {
  const std::string path = (dir_ / "empty.png").string();
  std::ofstream(path).close();
  EXPECT_EQ(LoadError(path), "cannot read image '" + path + "': file is empty");
}

TEST_F(ScratchDir, DirectorySaysSo) {
  const std::string path = (dir_ / "folder.png").string();
  std::filesystem::create_directories(path);
  EXPECT_EQ(LoadError(path), "cannot read image '" + path + "': is a directory");
}

TEST_F(ScratchDir, LoadedImageRecordsItsPath) {
  const std::string path = (dir_ / "copy.bmp").string();
  std::filesystem::copy_file(Fixture("orientation_2x2_bottomup.bmp"), path);
  std::string error;
  auto data = host::LoadImageFile(path, error);
  ASSERT_TRUE(data) << error;
  EXPECT_EQ(data->path, path);
  EXPECT_EQ(TopDownBytes(*data).size(), 12u);
}

// Plain 24-bit BMPs take the host's own row reader; it must give exactly
// what stb gives, padding and both row orders included.
std::string PlainBmp(int width, int height, unsigned seed, bool truncate = false) {
  const int rows = height < 0 ? -height : height;
  const int rowBytes = (width * 3 + 3) & ~3;
  auto u32 = [](std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 0xff);
  };
  auto u16 = [](std::string& s, std::uint16_t v) { s += char(v & 0xff), s += char(v >> 8); };
  std::string f = "BM";
  u32(f, std::uint32_t(54 + rowBytes * rows)), u32(f, 0), u32(f, 54), u32(f, 40);
  u32(f, std::uint32_t(width)), u32(f, std::uint32_t(height)), u16(f, 1), u16(f, 24);
  u32(f, 0), u32(f, std::uint32_t(rowBytes * rows)), u32(f, 0), u32(f, 0), u32(f, 0), u32(f, 0);
  for (int i = 0; i < rowBytes * rows; ++i) f += char((seed * 2654435761u + unsigned(i) * 40503u) >> 13);
  if (truncate) f.resize(f.size() - 2);
  return f;
}

TEST_F(ScratchDir, PlainBmpReadsAsStbReadsIt) {
  // 1..23 and a few wider: rows converted five pixels a step, each width
  // leaving a different remainder for the last steps.
  std::vector<int> widths;
  for (int width = 1; width <= 23; ++width) widths.push_back(width);
  for (int width : {64, 101, 333}) widths.push_back(width);
  for (int width : widths) {
    for (int height : {1, 3, -2}) {
      const std::string bytes = PlainBmp(width, height, unsigned(width * 7 + height));
      const std::string path = (dir_ / "plain.bmp").string();
      std::ofstream(path, std::ios::binary) << bytes;
      std::string error;
      auto data = host::LoadImageFile(path, error);
      ASSERT_TRUE(data) << error;
      int w = 0, h = 0, n = 0;
      stbi_uc* ref = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()),
                                           int(bytes.size()), &w, &h, &n, 0);
      ASSERT_NE(ref, nullptr);
      EXPECT_EQ(data->width, w);
      EXPECT_EQ(data->height, h);
      EXPECT_EQ(data->channels, n);
      EXPECT_EQ(std::vector<std::uint8_t>(ref, ref + w * h * n), TopDownBytes(*data))
          << width << " x " << height;
      stbi_image_free(ref);
    }
  }
}

TEST_F(ScratchDir, TruncatedPlainBmpIsRefused) {
  const std::string bytes = PlainBmp(5, 4, 1, true);
  const std::string path = (dir_ / "cut.bmp").string();
  std::ofstream(path, std::ios::binary) << bytes;
  EXPECT_EQ(LoadError(path), "cannot read image '" + path + "': truncated at byte " +
                                 std::to_string(bytes.size()) + " of " + std::to_string(bytes.size() + 2));
}


// Larger than one piece of the BMP reader's chunked reads, in both row
// orders, from a file and from memory: every row lands in its place.
TEST_F(ScratchDir, BmpRowsAcrossReadPiecesLandInPlace) {
  for (int height : {900, -900}) {
    const std::string bytes = PlainBmp(301, height, 77);
    const std::string path = (dir_ / "big.bmp").string();
    std::ofstream(path, std::ios::binary) << bytes;
    std::string error;
    auto fromFile = host::LoadImageFile(path, error);
    ASSERT_TRUE(fromFile) << error;
    auto fromMemory = host::LoadImageMemory(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                            "big", error);
    ASSERT_TRUE(fromMemory) << error;
    int w = 0, h = 0, n = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> ref(
        stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()), int(bytes.size()), &w, &h, &n, 0),
        stbi_image_free);
    ASSERT_TRUE(ref);
    const std::vector<std::uint8_t> expected(ref.get(), ref.get() + std::size_t(w) * h * n);
    EXPECT_EQ(TopDownBytes(*fromFile), expected) << height;
    EXPECT_EQ(TopDownBytes(*fromMemory), expected) << height;
  }
}

// A CMYK JPEG (Adobe's inverted values, as libjpeg writes them) of 8 x 16
// pixels: the top half cyan ink only, the bottom half no ink at half key.
std::vector<std::uint8_t> CmykJpeg() {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = 8;
  c.image_height = 16;
  c.input_components = 4;
  c.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 100, TRUE);
  jpeg_start_compress(&c, TRUE);
  for (int y = 0; y < 16; ++y) {
    std::uint8_t row[8 * 4];
    for (int x = 0; x < 8; ++x) {
      const std::uint8_t top[4] = {0, 255, 255, 255}, bottom[4] = {255, 255, 255, 128};
      std::memcpy(row + 4 * x, y < 8 ? top : bottom, 4);
    }
    JSAMPROW r = row;
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<std::uint8_t> bytes(out, out + size);
  jpeg_destroy_compress(&c);
  std::free(out);
  return bytes;
}

TEST(JpegVariants, CmykBecomesRgbWithTheBottomRowFirst) {
  const std::vector<std::uint8_t> file = CmykJpeg();
  std::string error;
  auto data = host::LoadImageMemory(file.data(), file.size(), "cmyk", error);
  ASSERT_TRUE(data) << error;
  ASSERT_EQ(data->channels, 3);
  const Image img(data);
  for (float y : {0.0f, 7.0f, 8.0f, 15.0f}) {
    const CColor c = Pixel(img, 3, y);
    const bool bottom = y < 8;  // the file's last rows
    EXPECT_NEAR(c.r * 255, bottom ? 128 : 0, 3) << y;
    EXPECT_NEAR(c.g * 255, bottom ? 128 : 255, 3) << y;
    EXPECT_NEAR(c.b * 255, bottom ? 128 : 255, 3) << y;
  }
}

// ---- the pixel layout plug-ins read -------------------------------------------

// GetPixelValue's contract worked out by hand from the stored samples.
CColor FromSamples(const XSI::ImagePixels& d, int x, int y) {
  const std::uint8_t* p = d.Row(y) + std::size_t(x) * std::size_t(d.channels) * std::size_t(d.bitsPerChannel / 8);
  auto sample = [&](int i) {
    if (d.bitsPerChannel == 8) return p[i] / 255.0;
    std::uint16_t v;
    std::memcpy(&v, p + 2 * i, 2);
    return v / 65535.0;
  };
  CColor c;
  const bool grey = d.channels <= 2;
  c.r = sample(0);
  c.g = grey ? c.r : sample(1);
  c.b = grey ? c.r : sample(2);
  c.a = d.channels == 2 ? sample(1) : d.channels == 4 ? sample(3) : 1.0;
  return c;
}

TEST(PixelLayout, EveryChannelCountAndDepthReadsAsItsSamples) {
  struct Case {
    const char* file;
    int channels, bits;
  };
  const Case cases[] = {{"grey8_2x1.png", 1, 8},          {"grey_trns_3x1.png", 2, 8},
                        {"orientation_2x2_topdown.png", 3, 8}, {"rgba8_1x1.png", 4, 8},
                        {"greyalpha16_1x1.png", 2, 16},   {"rgb16_2x1.png", 3, 16},
                        {"rgb16_trns_2x1.png", 4, 16},    {"grey200_8x8.jpg", 1, 8},
                        {"orientation_2x2_bottomup.tga", 3, 8}};
  for (const Case& k : cases) {
    const Image img = Load(k.file);
    const XSI::ImagePixels d = img.GetPixels();
    ASSERT_EQ(d.channels, k.channels) << k.file;
    ASSERT_EQ(d.bitsPerChannel, k.bits) << k.file;
    EXPECT_EQ(d.rowBytes, std::size_t(d.width) * std::size_t(k.channels) * std::size_t(k.bits / 8)) << k.file;
    for (int y = 0; y < d.height; ++y)
      for (int x = 0; x < d.width; ++x) {
        const CColor want = FromSamples(d, x, y);
        // The far edge of each pixel truncates to the pixel itself.
        for (float dx : {0.0f, 0.999f})
          for (float dy : {0.0f, 0.999f}) {
            const CColor got = Pixel(img, float(x) + dx, float(y) + dy);
            EXPECT_EQ(got.r, want.r) << k.file << " at " << x << "," << y;
            EXPECT_EQ(got.g, want.g) << k.file << " at " << x << "," << y;
            EXPECT_EQ(got.b, want.b) << k.file << " at " << x << "," << y;
            EXPECT_EQ(got.a, want.a) << k.file << " at " << x << "," << y;
          }
      }
    // Just past the last column or row: outside, and `out` stays as it was.
    CColor c;
    c.r = c.g = c.b = c.a = 0.25;
    EXPECT_EQ(img.GetPixelValue(float(d.width), 0, c), CStatus::Fail) << k.file;
    EXPECT_EQ(img.GetPixelValue(0, float(d.height), c), CStatus::Fail) << k.file;
    EXPECT_EQ(img.GetPixelValue(float(d.width) - 0.0001f, -0.0001f, c), CStatus::Fail) << k.file;
    ExpectColour(c, 0.25, 0.25, 0.25, 0.25);
  }
}

// Row 0 is the bottom row whichever order the file stores rows in.
TEST(PixelLayout, RowZeroIsTheBottomRowInEveryFormat) {
  for (const char* file : {"orientation_2x2_bottomup.bmp", "orientation_2x2_topdown.bmp",
                           "orientation_2x2_topdown.png", "orientation_2x2_bottomup.tga"}) {
    const Image img = Load(file);  // the view is good while an Image holds the pixels
    const XSI::ImagePixels d = img.GetPixels();
    ASSERT_EQ(d.channels, 3) << file;
    ASSERT_EQ(d.height, 2) << file;
    const std::uint8_t* bottom = d.Row(0);
    const std::uint8_t* top = d.Row(1);
    EXPECT_EQ(std::vector<int>(bottom, bottom + 6), (std::vector<int>{0, 0, 255, 255, 255, 255})) << file;
    EXPECT_EQ(std::vector<int>(top, top + 6), (std::vector<int>{255, 0, 0, 0, 255, 0})) << file;
    EXPECT_EQ(d.rows, bottom) << file;
  }
  const XSI::ImagePixels none = Image().GetPixels();
  EXPECT_EQ(none.rows, nullptr);
  EXPECT_EQ(none.width, 0);
  EXPECT_EQ(none.height, 0);
}


// ---- untrusted files ---------------------------------------------------------

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string MemoryError(const Bytes& b, host::ImageLimits limits = host::ImageLimits()) {
  std::string error;
  auto data = host::LoadImageMemory(b.data(), b.size(), "mem", error, limits);
  EXPECT_FALSE(data) << "loaded but should not";
  return error;
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}

// A colour JPEG written by stb_image_write: a second encoder, so the sample
// is not shaped by the decoder under test.
Bytes SampleJpeg() {
  const int w = 37, h = 29;
  std::vector<std::uint8_t> rgb(w * h * 3);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = std::uint8_t((i * 7919u) >> 3);
  Bytes out;
  stbi_write_jpg_to_func([](void* ctx, void* data, int size) {
    auto* o = static_cast<Bytes*>(ctx);
    o->insert(o->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
  }, &out, w, h, 3, rgb.data(), 90);
  return out;
}

// The 2x2 orientation picture as run-length-encoded TGA: one repeat packet
// (blue, white row is stored first: bottom-up) would not fit, so a raw
// packet of two, then a repeat packet of one, then a raw packet of one.
Bytes RleTga() {
  Bytes b = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0};
  const Bytes pixels = {0x01, 255, 0, 0, 255, 255, 255,  // raw: blue, white
                        0x80, 0, 0, 255,                  // repeat x1: red
                        0x00, 0, 255, 0};                 // raw: green
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

struct Sample {
  const char* name;
  Bytes bytes;
};

std::vector<Sample> Samples() {
  return {{"map.bmp", ReadFile(std::string(XSI_SOURCE_DIR) + "/examples/images/map.bmp")},
          {"map.png", ReadFile(std::string(XSI_SOURCE_DIR) + "/examples/images/map.png")},
          {"stb.jpg", SampleJpeg()},
          {"grey.jpg", ReadFile(Fixture("grey200_8x8.jpg"))},
          {"raw.tga", ReadFile(Fixture("orientation_2x2_bottomup.tga"))},
          {"rle.tga", RleTga()},
          {"palette.png", ReadFile(Fixture("palette_trns_4x2.png"))}};
}

TEST(ImageTruncation, EveryFormatRefusesAFileCutAnywhere) {
  for (const Sample& s : Samples()) {
    ASSERT_GT(s.bytes.size(), 20u) << s.name;
    std::string error;
    auto whole = host::LoadImageMemory(s.bytes.data(), s.bytes.size(), s.name, error);
    ASSERT_TRUE(whole) << error;
    std::vector<std::size_t> cuts = {1, 2, 3, 8, 17, 18, 19, 30, 54, 100, 1000};
    for (std::size_t k = 1; k < 8; ++k) cuts.push_back(s.bytes.size() * k / 8);
    cuts.push_back(s.bytes.size() - 1);
    for (std::size_t cut : cuts) {
      if (cut >= s.bytes.size()) continue;
      const Bytes part(s.bytes.begin(), s.bytes.begin() + std::ptrdiff_t(cut));
      const std::string e = MemoryError(part);
      // Too short to recognise, or recognised and cut: never a picture.
      if (e.find("unknown image type") != std::string::npos) {
        EXPECT_LT(cut, 19u) << s.name << " cut at " << cut;
        continue;
      }
      EXPECT_NE(e.find(": truncated at byte " + std::to_string(cut)), std::string::npos)
          << s.name << " cut at " << cut << ": " << e;
    }
  }
}

TEST_F(ScratchDir, SliceOfTheSampleMapIsTruncatedNotPadded) {
  const Bytes map = ReadFile(std::string(XSI_SOURCE_DIR) + "/examples/images/map.bmp");
  const std::string path = (dir_ / "slice.bmp").string();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(map.data()), 1000);
  EXPECT_EQ(LoadError(path), "cannot read image '" + path + "': truncated at byte 1000 of " +
                                 std::to_string(map.size()));
}

// A 118-byte BMP header: 14 + 40 + 64 bytes of pixels.
Bytes BmpHeaderOnly(std::int32_t width, std::int32_t height) {
  Bytes b = ReadFile(Fixture("orientation_2x2_bottomup.bmp"));
  b.resize(118, 0x5a);
  Put32(b, 18, std::uint32_t(width));
  Put32(b, 22, std::uint32_t(height));
  return b;
}

TEST(ImageLimits, HeaderSizesAreCheckedAgainstTheFileBeforeAllocating) {
  // 2^24 x 100 would be 5 GB of RGB; 16384^2 is 805 MB. Neither is allocated.
  EXPECT_EQ(MemoryError(BmpHeaderOnly(1 << 24, 100)),
            "cannot read image 'mem': image is too large: 16777216 x 100 pixels (the limit is 268435456 "
            "pixels, 16777216 on a side)");
  EXPECT_EQ(MemoryError(BmpHeaderOnly(16384, -16384)),
            "cannot read image 'mem': truncated at byte 118 of " + std::to_string(54 + 16384ull * 16384 * 3));
  host::ImageLimits small;
  small.maxPixels = 3;
  EXPECT_NE(MemoryError(ReadFile(Fixture("orientation_2x2_topdown.png")), small).find("image is too large: 2 x 2"),
            std::string::npos);
}

// The PNG builder of make_fixtures.py, for sizes no fixture should carry.
Bytes PngHeader(std::uint32_t w, std::uint32_t h, int depth, int colour, std::size_t idatBytes) {
  auto crcChunk = [](Bytes& out, const char* kind, const Bytes& payload) {
    for (int i = 3; i >= 0; --i) out.push_back(std::uint8_t(payload.size() >> (8 * i)));
    Bytes body(kind, kind + 4);
    body.insert(body.end(), payload.begin(), payload.end());
    std::uint32_t crc = 0xffffffffu;
    for (std::uint8_t c : body) {
      crc ^= c;
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xffffffffu;
    out.insert(out.end(), body.begin(), body.end());
    for (int i = 3; i >= 0; --i) out.push_back(std::uint8_t(crc >> (8 * i)));
  };
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  Bytes ihdr;
  for (std::uint32_t v : {w, h})
    for (int i = 3; i >= 0; --i) ihdr.push_back(std::uint8_t(v >> (8 * i)));
  ihdr.insert(ihdr.end(), {std::uint8_t(depth), std::uint8_t(colour), 0, 0, 0});
  crcChunk(out, "IHDR", ihdr);
  crcChunk(out, "IDAT", Bytes(idatBytes, 0));
  crcChunk(out, "IEND", {});
  return out;
}

TEST(ImageLimits, RefusedPngSaysWhy) {
  // 16-bit RGB at 20000 x 20000: the reason, not "cannot decode".
  EXPECT_EQ(MemoryError(PngHeader(20000, 20000, 16, 2, 10)),
            "cannot read image 'mem': image is too large: 20000 x 20000 pixels (the limit is 268435456 "
            "pixels, 16777216 on a side)");
  // Within the limit, but far more pixels than the compressed bytes can hold.
  const Bytes tiny = PngHeader(16384, 16384, 8, 0, 10);
  EXPECT_EQ(MemoryError(tiny), "cannot read image 'mem': truncated at byte " + std::to_string(tiny.size()) +
                                   " of at least " + std::to_string(16384ull * 16385 / 1032));
}

TEST(ImageLimits, JpegClaimingMoreBlocksThanBytesIsRefused) {
  Bytes jpeg = ReadFile(Fixture("grey200_8x8.jpg"));
  // SOF0 (FF C0): length, precision, then height and width, big-endian.
  std::size_t sof = 0;
  while (!(jpeg[sof] == 0xff && jpeg[sof + 1] == 0xc0)) ++sof;
  jpeg[sof + 5] = 0x40, jpeg[sof + 6] = 0x00;  // 16384 rows
  jpeg[sof + 7] = 0x40, jpeg[sof + 8] = 0x00;  // 16384 columns
  EXPECT_EQ(MemoryError(jpeg), "cannot read image 'mem': truncated at byte " + std::to_string(jpeg.size()) +
                                   " of at least " + std::to_string(2048ull * 2048 / 8));
}

// stb_image and the host must agree on which BMP headers are BMPs.
TEST(BmpHeaders, OddHeaderSizesAreRefusedAsStbRefusesThem) {
  for (std::uint32_t size : {0x87cu, 0xffffffffu, 0u, 41u, 64u}) {
    Bytes b = ReadFile(Fixture("orientation_2x2_bottomup.bmp"));
    Put32(b, 14, size);
    EXPECT_EQ(MemoryError(b), "cannot read image 'mem': unsupported BMP header size " + std::to_string(size) +
                                  " (expected 12, 40, 56, 108 or 124)");
    int w, h, n;
    EXPECT_EQ(stbi_load_from_memory(b.data(), int(b.size()), &w, &h, &n, 0), nullptr) << size;
  }
}

TEST(BmpHeaders, UnsupportedVariantsSayWhy) {
  const Bytes good = ReadFile(Fixture("orientation_2x2_bottomup.bmp"));
  auto with = [&](std::size_t at, std::uint32_t v, int bytes = 4) {
    Bytes b = good;
    for (int i = 0; i < bytes; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
    return MemoryError(b).substr(std::string("cannot read image 'mem': ").size());
  };
  EXPECT_EQ(with(30, 1), "RLE-compressed BMP is not supported");
  EXPECT_EQ(with(30, 4), "unsupported BMP compression 4");
  EXPECT_EQ(with(30, 3), "BMP bit fields need 16 or 32 bits per pixel");
  EXPECT_EQ(with(28, 2, 2), "unsupported BMP bit depth 2");
  EXPECT_EQ(with(26, 3, 2), "BMP planes must be 1, not 3");
  EXPECT_EQ(with(18, 0), "image has no pixels");
  EXPECT_EQ(with(22, 0), "image has no pixels");
  EXPECT_EQ(with(18, 0xfffffffeu), "invalid BMP width -2");
  EXPECT_EQ(with(10, 20), "BMP pixel data offset 20 lies inside the header (which ends at byte 54)");
}

// A BMP of any variant the host reads; pixel bytes from `seed`.
struct BmpVariant {
  std::uint32_t infoSize = 40;
  unsigned bpp = 24;
  std::uint32_t compression = 0;
  int width = 3, height = 2;
  unsigned paletteSize = 0;
  std::uint32_t masks[4] = {0, 0, 0, 0};
  unsigned seed = 1;
};

Bytes MakeBmp(const BmpVariant& s) {
  const int rows = s.height < 0 ? -s.height : s.height;
  const std::size_t rowBytes = (std::size_t(s.width) * s.bpp + 31) / 32 * 4;
  const bool separateMasks = s.infoSize == 40 && s.compression == 3;
  const std::size_t entry = s.infoSize == 12 ? 3 : 4;
  const std::size_t offset = 14 + s.infoSize + (separateMasks ? 12 : 0) + s.paletteSize * entry;
  Bytes b(offset + rowBytes * rows, 0);
  b[0] = 'B', b[1] = 'M';
  Put32(b, 2, std::uint32_t(b.size()));
  Put32(b, 10, std::uint32_t(offset));
  Put32(b, 14, s.infoSize);
  if (s.infoSize == 12) {
    b[18] = std::uint8_t(s.width), b[19] = std::uint8_t(s.width >> 8);
    b[20] = std::uint8_t(s.height), b[21] = std::uint8_t(s.height >> 8);
    b[22] = 1, b[24] = std::uint8_t(s.bpp);
  } else {
    Put32(b, 18, std::uint32_t(s.width));
    Put32(b, 22, std::uint32_t(s.height));
    b[26] = 1, b[28] = std::uint8_t(s.bpp);
    Put32(b, 30, s.compression);
    if (separateMasks || s.infoSize >= 56)
      for (int i = 0; i < (separateMasks ? 3 : 4); ++i) Put32(b, 54 + 4 * i, s.masks[i]);
  }
  std::uint32_t x = s.seed * 2654435761u;
  for (std::size_t i = offset - s.paletteSize * entry; i < b.size(); ++i) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    b[i] = std::uint8_t(x >> 7);
  }
  // Indices must stay inside the palette: 1 and 4 bits fill it, 8 bits uses
  // the low bits of a 64-entry palette.
  if (s.bpp == 8)
    for (std::size_t i = offset; i < b.size(); ++i) b[i] &= 63;
  return b;
}

void ExpectSameAsStb(const Bytes& b, const std::string& what) {
  std::string error;
  auto data = host::LoadImageMemory(b.data(), b.size(), what, error);
  ASSERT_TRUE(data) << error;
  int w = 0, h = 0, n = 0;
  std::unique_ptr<stbi_uc, void (*)(void*)> ref(stbi_load_from_memory(b.data(), int(b.size()), &w, &h, &n, 0),
                                               stbi_image_free);
  ASSERT_TRUE(ref) << what << ": " << stbi_failure_reason();
  ASSERT_EQ(data->width, w) << what;
  ASSERT_EQ(data->height, h) << what;
  ASSERT_EQ(data->channels, n) << what;
  EXPECT_EQ(TopDownBytes(*data), Bytes(ref.get(), ref.get() + std::size_t(w) * h * n)) << what;
}

TEST(BmpVariants, EveryVariantReadsAsStbReadsIt) {
  std::vector<BmpVariant> variants;
  for (unsigned bpp : {1u, 4u, 8u}) {
    BmpVariant s;
    s.bpp = bpp;
    s.paletteSize = bpp == 8 ? 64 : 1u << bpp;
    variants.push_back(s);
  }
  {
    BmpVariant s;  // 16 bits, 5-5-5 by default
    s.bpp = 16;
    variants.push_back(s);
    s.compression = 3;  // 5-6-5 through masks
    s.masks[0] = 0xf800, s.masks[1] = 0x07e0, s.masks[2] = 0x001f;
    variants.push_back(s);
  }
  {
    BmpVariant s;  // 32 bits, BGRA by default: alpha kept, or all 0 meaning opaque
    s.bpp = 32;
    variants.push_back(s);
    s.compression = 3;  // masks without alpha: RGB
    s.masks[0] = 0xff0000, s.masks[1] = 0xff00, s.masks[2] = 0xff;
    variants.push_back(s);
    s.infoSize = 108;  // version 4 header with an alpha mask
    s.masks[0] = 0xff, s.masks[1] = 0xff00, s.masks[2] = 0xff0000, s.masks[3] = 0xff000000;
    variants.push_back(s);
    s.infoSize = 124;  // version 5, odd masks
    s.masks[0] = 0x3f800000, s.masks[1] = 0x001fc000, s.masks[2] = 0x00000ff0, s.masks[3] = 0xc0000000;
    variants.push_back(s);
    s.compression = 0;
    s.infoSize = 124;  // version 5 without bit fields: defaults
    variants.push_back(s);
  }
  {
    BmpVariant s;  // OS/2 header, 24 bits
    s.infoSize = 12;
    variants.push_back(s);
  }
  unsigned seed = 0;
  for (BmpVariant s : variants)
    for (int width : {1, 2, 3, 5, 9, 17})
      for (int height : {1, 3, -2}) {
        if (s.infoSize == 12 && height < 0) continue;
        s.width = width, s.height = height, s.seed = ++seed;
        ExpectSameAsStb(MakeBmp(s), "bpp " + std::to_string(s.bpp) + " header " + std::to_string(s.infoSize) +
                                        " compression " + std::to_string(s.compression) + " " +
                                        std::to_string(width) + " x " + std::to_string(height));
      }
  // A 32-bit file whose alpha bytes are all 0 reads as opaque, as in stb.
  BmpVariant s;
  s.bpp = 32;
  Bytes b = MakeBmp(s);
  for (std::size_t i = 54 + 3; i < b.size(); i += 4) b[i] = 0;
  ExpectSameAsStb(b, "32-bit, alpha all 0");
}

TEST(BmpVariants, PaletteIndexPastThePaletteIsRefused) {
  // stb reads whatever is in its palette array there; we say what is wrong.
  BmpVariant s;
  s.bpp = 8;
  s.paletteSize = 64;
  Bytes b = MakeBmp(s);
  b[b.size() - 8] = 200;  // first pixel of the first stored row
  EXPECT_EQ(MemoryError(b), "cannot read image 'mem': BMP palette index 200 is outside the palette of 64 colours");
  s.paletteSize = 0;
  EXPECT_EQ(MemoryError(MakeBmp(s)), "cannot read image 'mem': BMP palette is missing");
}

// Pictures with 8 MiB of pixel data or more are decoded in two halves at
// once; the halves must meet exactly, in both row orders and every row format.
TEST(BmpVariants, LargePicturesDecodedInHalvesReadAsStbReadsThem) {
  std::vector<BmpVariant> variants;
  BmpVariant s;
  s.width = 1999, s.height = 1501, s.seed = 7;  // odd sizes: padded rows, a middle row
  variants.push_back(s);
  s.height = -1501;
  variants.push_back(s);
  s.bpp = 8, s.paletteSize = 64, s.width = 3001, s.height = 3001;
  variants.push_back(s);
  s.bpp = 32, s.paletteSize = 0, s.width = 1500, s.height = -1500;
  variants.push_back(s);
  for (const BmpVariant& v : variants)
    ExpectSameAsStb(MakeBmp(v), "bpp " + std::to_string(v.bpp) + " " + std::to_string(v.width) + " x " +
                                    std::to_string(v.height));
}

TEST(BmpVariants, LargePictureSaysTheFirstBadPaletteIndexInFileOrder) {
  BmpVariant s;
  s.bpp = 8, s.paletteSize = 64, s.width = 3000, s.height = 3000;
  const Bytes good = MakeBmp(s);
  const std::size_t pixels = good.size() - 3000u * 3000u;
  Bytes late = good, both = good;
  late[pixels + 2999u * 3000u + 5] = 99;  // in the last stored row only
  both[pixels + 10] = 70;                 // in the first stored row as well
  both[pixels + 2999u * 3000u] = 99;
  EXPECT_EQ(MemoryError(late), "cannot read image 'mem': BMP palette index 99 is outside the palette of 64 colours");
  EXPECT_EQ(MemoryError(both), "cannot read image 'mem': BMP palette index 70 is outside the palette of 64 colours");
}

TEST_F(ScratchDir, LargeFileReadInHalvesGivesTheSamePixelsAsMemory) {
  BmpVariant s;
  s.width = 2001, s.height = 1500, s.seed = 3;
  const Bytes b = MakeBmp(s);
  const std::string path = (dir_ / "large.bmp").string();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  std::string error;
  auto fromFile = host::LoadImageFile(path, error);
  ASSERT_TRUE(fromFile) << error;
  auto fromMemory = host::LoadImageMemory(b.data(), b.size(), "mem", error);
  ASSERT_TRUE(fromMemory) << error;
  EXPECT_TRUE(TopDownBytes(*fromFile) == TopDownBytes(*fromMemory));
}

TEST(PngVariants, ExpandedAsStbExpandsThem) {
  for (const char* name : {"palette_trns_4x2.png", "palette4_3x2.png", "grey1_9x2.png", "grey2_5x1.png",
                           "grey4_3x1.png", "grey_trns_3x1.png", "orientation_2x2_topdown.png"})
    ExpectSameAsStb(ReadFile(Fixture(name)), name);
  // 16-bit transparency: an alpha channel at full 16-bit scale.
  std::string error;
  auto data = host::LoadImageFile(Fixture("rgb16_trns_2x1.png"), error);
  ASSERT_TRUE(data) << error;
  EXPECT_EQ(data->channels, 4);
  EXPECT_EQ(TopDownSamples16(*data), (std::vector<std::uint16_t>{1, 2, 3, 65535, 4, 5, 6, 0}));
}

TEST(TgaVariants, RunLengthEncodedReadsAsRaw) {
  const Bytes rle = RleTga();
  std::string error;
  auto a = host::LoadImageMemory(rle.data(), rle.size(), "rle", error);
  ASSERT_TRUE(a) << error;
  auto b = host::LoadImageFile(Fixture("orientation_2x2_bottomup.tga"), error);
  ASSERT_TRUE(b) << error;
  EXPECT_EQ(TopDownBytes(*a), TopDownBytes(*b));
}

TEST(ImageErrors, FormatsStbAloneReadAreNoLongerImages) {
  const std::string pnm = "P6\n1 1\n255\n\x01\x02\x03";
  EXPECT_EQ(MemoryError(Bytes(pnm.begin(), pnm.end())),
            "cannot read image 'mem': unknown image type (not BMP, PNG, JPEG, TGA or TIFF)");
}

TEST_F(ScratchDir, NonRegularFileIsRefused) {
  const std::string path = (dir_ / "pipe.bmp").string();
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  EXPECT_EQ(LoadError(path), "cannot read image '" + path + "': not a regular file");
}

TEST(ImageDecoding, SameBytesGiveTheSamePixels) {
  for (const Sample& s : Samples()) {
    std::string error;
    auto a = host::LoadImageMemory(s.bytes.data(), s.bytes.size(), s.name, error);
    auto b = host::LoadImageMemory(s.bytes.data(), s.bytes.size(), s.name, error);
    ASSERT_TRUE(a && b) << error;
    EXPECT_EQ(a->bitsPerChannel, b->bitsPerChannel) << s.name;
    EXPECT_EQ(TopDownBytes(*a), TopDownBytes(*b)) << s.name;
  }
}

// ---- clips through the host ------------------------------------------------

class Clips : public testutil::HostTest {};

TEST_F(Clips, CreateImageClipGivesTheFilesPixelsAndName) {
  const std::string path = Fixture("orientation_2x2_bottomup.bmp");
  XSI::CValue out;
  ASSERT_EQ(testutil::Exec(L"CreateImageClip", {XSI::CString::FromUtf8(path)}, &out), CStatus::OK);
  XSI::ImageClip2 clip(out);  // the value reads as the clip's ref
  EXPECT_EQ(clip.GetFileName().GetUtf8String(), path);
  Image img = clip.GetImage();
  ASSERT_EQ(img.GetResX(), 2);
  ASSERT_EQ(img.GetResY(), 2);
  ExpectColour(Pixel(img, 0, 0), 0, 0, 1, 1);
  ExpectColour(Pixel(img, 1, 1), 0, 1, 0, 1);
  // The default time, as plug-ins pass it, gives the same picture.
  EXPECT_EQ(clip.GetImage(XSI::kDefaultTime).GetResX(), 2);
}

TEST_F(Clips, RefsThatAreNotLiveClipsGiveNothing) {
  XSI::CValue out;
  ASSERT_EQ(testutil::Exec(L"CreateImageClip", {XSI::CString::FromUtf8(Fixture("grey8_2x1.png"))},
                          &out),
            CStatus::OK);
  const XSI::CRef ref = out.GetAsRef();
  ASSERT_EQ(ref.GetKind(), XSI::siRefKind::ImageClip);
  // Same id, another kind: not a clip.
  XSI::ImageClip2 wrongKind(XSI::CRef(XSI::siRefKind::Object, ref.GetId()));
  EXPECT_FALSE(wrongKind.GetImage().IsValid());
  EXPECT_TRUE(wrongKind.GetFileName().IsEmpty());
  XSI::ImageClip2 unknown(XSI::CRef(XSI::siRefKind::ImageClip, ref.GetId() + 1000));
  EXPECT_FALSE(unknown.GetImage().IsValid());
  EXPECT_TRUE(unknown.GetFileName().IsEmpty());
  EXPECT_FALSE(XSI::ImageClip2().GetImage().IsValid());

  // An Image taken before the clip goes stays readable; the clip does not.
  Image kept = XSI::ImageClip2(ref).GetImage();
  host::Runtime::Get().ResetScene();
  EXPECT_FALSE(XSI::ImageClip2(ref).GetImage().IsValid());
  EXPECT_TRUE(XSI::ImageClip2(ref).GetFileName().IsEmpty());
  ExpectColour(Pixel(kept, 1, 0), 128 / 255.0, 128 / 255.0, 128 / 255.0, 1);
}

TEST_F(Clips, UndecodableFileMakesNoClipAndNamesTheFile) {
  const std::string path = Fixture("truncated.png");
  XSI::CValue out;
  EXPECT_NE(testutil::Exec(L"CreateImageClip", {XSI::CString::FromUtf8(path)}, &out), CStatus::OK);
  EXPECT_FALSE(out.GetAsRef().IsValid());
  EXPECT_NE(testutil::LastError().find("cannot read image '" + path + "': "), std::string::npos)
      << testutil::LastError();
  Image img = XSI::ImageClip2(out).GetImage();
  EXPECT_EQ(img.GetResX(), 0);
  EXPECT_EQ(img.GetResY(), 0);
}

}  // namespace
