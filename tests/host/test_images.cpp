// Image loading and pixel reads: orientation across storage orders, component
// scale for 8- and 16-bit data, grey and alpha handling, reads outside the
// image, and load errors that name the file.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <stb_image.h>

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
  EXPECT_EQ(data->pixels16.size(), 6u);
  EXPECT_TRUE(data->pixels8.empty());
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
  // Data not built by the loader (a buffer shorter than its size says) must
  // not be read past its end.
  auto data = std::make_shared<XSI::detail::ImageData>();
  data->width = 4;
  data->height = 4;
  data->channels = 3;
  data->pixels8.assign(3, 255);
  Image img(data);
  CColor c;
  EXPECT_EQ(img.GetPixelValue(0, 3, c), CStatus::OK);  // top-left: stored first
  EXPECT_EQ(img.GetPixelValue(3, 0, c), CStatus::Fail);
}

// ---- load errors -----------------------------------------------------------

class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("xsi_test_images_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
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
            "cannot read image '" + text + "': unknown image type (not BMP, PNG, JPEG or TGA)");
  const std::string zero = Fixture("zero_width.png");
  EXPECT_EQ(LoadError(zero), "cannot read image '" + zero + "': image has no pixels");
  const std::string cut = Fixture("truncated.png");
  const std::string prefix = "cannot read image '" + cut + "': corrupt or unsupported image data (";
  const std::string error = LoadError(cut);
  EXPECT_EQ(error.substr(0, prefix.size()), prefix) << error;
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
  EXPECT_EQ(data->pixels8.size(), 12u);
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
  for (int width = 1; width <= 5; ++width) {
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
      EXPECT_EQ(std::vector<std::uint8_t>(ref, ref + w * h * n), data->pixels8)
          << width << " x " << height;
      stbi_image_free(ref);
    }
  }
}

TEST_F(ScratchDir, TruncatedPlainBmpIsLeftToStb) {
  const std::string bytes = PlainBmp(5, 4, 1, true);
  const std::string path = (dir_ / "cut.bmp").string();
  std::ofstream(path, std::ios::binary) << bytes;
  std::string error;
  auto data = host::LoadImageFile(path, error);
  int w = 0, h = 0, n = 0;
  stbi_uc* ref = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()),
                                       int(bytes.size()), &w, &h, &n, 0);
  ASSERT_EQ(data != nullptr, ref != nullptr) << error;
  if (ref) {
    EXPECT_EQ(std::vector<std::uint8_t>(ref, ref + w * h * n), data->pixels8);
  }
  stbi_image_free(ref);
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
