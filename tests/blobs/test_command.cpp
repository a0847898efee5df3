// The findSpots command end to end: the real plug-in loaded into the real
// runtime, images written to a scratch folder, run through ExecuteCommand.
#include <cpl_string.h>
#include <gdal.h>
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "blob_test_support.h"
#include "runtime.h"

using namespace blobtest;

namespace {

class FindSpots : public ::testing::Test {
 protected:
  void SetUp() override { EnsurePluginLoaded(); }

  // Writes `p` as <dir>/img.bmp and runs with `a` (imagesPath filled in).
  RunResult Run(const Picture& p, Args a) {
    WriteBmp(p, dir.File(a.imageName + ".bmp"));
    a.imagesPath = dir.Prefix();
    return RunFindSpots(a);
  }

  // Colour mode picking exactly white.
  static Args White(int minBlobSize = 0) {
    Args a;
    a.minBlobSize = minBlobSize;
    return a;
  }

  Picture Bitmap() const { return DecodeWithStb(ReadBytes(dir.File("blobs.bmp"))); }

  ScratchDir dir;
};

bool IsGreen(const Picture& p, int x, int y) {
  const std::uint8_t* c = p.At(x, y);
  return c[0] == 0 && c[1] == 255 && c[2] == 0;
}

// `p` as a tiled RGB GeoTIFF (rows top first, as TIFF stores them).
void WriteGeoTiff(const Picture& p, const std::string& path) {
  GDALAllRegister();
  char** options = CSLSetNameValue(nullptr, "TILED", "YES");
  GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), p.width, p.height, 3, GDT_Byte, options);
  CSLDestroy(options);
  ASSERT_NE(ds, nullptr);
  std::vector<std::uint8_t> top(p.rgb.size());
  for (int y = 0; y < p.height; ++y)
    std::memcpy(&top[std::size_t(p.height - 1 - y) * p.width * 3], p.At(0, y), std::size_t(p.width) * 3);
  EXPECT_EQ(GDALDatasetRasterIO(ds, GF_Write, 0, 0, p.width, p.height, top.data(), p.width, p.height, GDT_Byte, 3,
                                nullptr, 3, p.width * 3, 1),
            CE_None);
  GDALClose(ds);
}

int ExpectedByte(int v) { return static_cast<int>(static_cast<double>(v) / 255.0 * 255.0) & 0xFF; }

}  // namespace

// ---- registration -------------------------------------------------------------

TEST_F(FindSpots, RegistersTheCommandWithItsThirteenArguments) {
  const RunResult r = Run(Picture(2, 2), White());
  ASSERT_TRUE(r.status.Succeeded()) << r.LogText();
  const host::CommandDef* def = host::Runtime::Get().FindCommand(L"findSpots");
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->owner, L"findSpotsPlugin");
  EXPECT_EQ(def->description, L"Detect blob from an image");
  EXPECT_TRUE(def->returnsValue);
  const std::vector<std::wstring> names = {
      L"IMAGESPATH", L"imageName", L"minBlobSize", L"useRGB", L"channelRed", L"channelGreen",
      L"channelBlue", L"rangeR", L"rangeG", L"rangeB", L"luminanceValue", L"luminanceRange",
      L"withelevation"};
  ASSERT_EQ(def->arguments.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(def->arguments[i].name.Wide(), names[i]);
    EXPECT_TRUE(def->arguments[i].defaultValue.IsEmpty());
  }
}

TEST_F(FindSpots, UnloadLogsOneLineWithThePluginName) {
  std::vector<LogLine> lines;
  host::Runtime& rt = host::Runtime::Get();
  const int sink = rt.AddLogSink([&](const XSI::CString& t, int s) { lines.push_back({t.GetUtf8String(), s}); });
  UnloadPlugin();
  rt.RemoveLogSink(sink);
  int mine = 0;
  for (const LogLine& l : lines)
    if (l.text.find("findSpotsPlugin") != std::string::npos && l.text.find("unloaded") != std::string::npos) {
      ++mine;
      EXPECT_EQ(l.text, "findSpotsPlugin has been unloaded.");
      EXPECT_EQ(l.severity, 16);
    }
  EXPECT_EQ(mine, 1);
  EnsurePluginLoaded();
  EXPECT_TRUE(Run(Picture(1, 1), White()).status.Succeeded());
}

TEST_F(FindSpots, LogsTheRunAndTheMissingElevationMap) {
  const RunResult r = Run(Picture(3, 3), White());
  ASSERT_TRUE(r.status.Succeeded());
  std::vector<std::string> verbose;
  for (const LogLine& l : r.log)
    if (l.severity == 8) verbose.push_back(l.text);
  ASSERT_EQ(verbose.size(), 2u) << r.LogText();
  for (const LogLine& l : r.log) EXPECT_GT(l.severity, 4) << l.text;  // no error or warning
  EXPECT_EQ(verbose[0], "findSpots_Execute called");
  EXPECT_EQ(verbose[1], "no elevation map");
}

TEST_F(FindSpots, ImagesPathIsUsedWithoutAddingASeparator) {
  WriteBmp(FromRows({"##", ".."}), dir.File("prefiximg.bmp"));
  Args a = White();
  a.imagesPath = dir.File("prefix");
  const RunResult r = RunFindSpots(a);
  ASSERT_TRUE(r.status.Succeeded()) << r.LogText();
  EXPECT_EQ(r.Text(), "0,0,1,1,0,1#");
}

// ---- classification through the host --------------------------------------------

TEST_F(FindSpots, ColourBoundsAreInclusive) {
  // Red components 0, 1/255, 128/255, 254/255 and 1; the bounds 0, 0.5 and 1
  // are exact, so a component on a bound is tested against it exactly.
  Picture p(5, 1);
  const int reds[5] = {0, 1, 128, 254, 255};
  for (int x = 0; x < 5; ++x) p.Set(x, 0, static_cast<std::uint8_t>(reds[x]), 0, 0);
  Args a;
  a.green = a.blue = 0.0;
  a.red = 0.5;
  a.rangeR = 0.5;
  EXPECT_EQ(Run(p, a).Text(), "0,2,0,4,0,1#");
  a.red = 0.75;
  a.rangeR = 0.25;
  EXPECT_EQ(Run(p, a).Text(), "0,3,0,2,0,1#");
  a.red = 0.25;
  a.rangeR = 0.25;
  EXPECT_EQ(Run(p, a).Text(), "0,0,0,1,0,1#");
}

TEST_F(FindSpots, ZeroHalfWidthsPickTheExactColour) {
  Picture p = FromRows({"r#g", "rb.", "..r"});
  Args a;
  a.red = 1.0;
  a.green = 0.0;
  a.blue = 0.0;
  const RunResult r = Run(p, a);
  EXPECT_EQ(r.Text(), "0,2,0,0,0,1#1,0,1,0,1,1#");
}

TEST_F(FindSpots, LuminanceUsesTheOneThirdScale) {
  Picture p = FromRows({"#.", ".#"});
  Args a;
  a.useRGB = false;
  a.luminanceValue = 1.0;
  a.luminanceRange = 0.5;
  EXPECT_EQ(Run(p, a).Text(), "");
  a.luminanceValue = 1.0 / 3.0;
  a.luminanceRange = 0.0;
  EXPECT_EQ(Run(p, a).Text(), "0,1,0,0,0,1#1,0,1,0,0,1#");
  a.luminanceValue = 0.0;
  EXPECT_EQ(Run(p, a).Text(), "0,0,0,0,0,1#1,1,1,0,0,1#");
}

TEST_F(FindSpots, NaNArgumentsSelectNothing) {
  Picture p(4, 4, 255, 255, 255);
  Args a;
  a.rangeR = a.rangeG = a.rangeB = 1.0;
  a.green = std::numeric_limits<double>::quiet_NaN();
  const RunResult r = Run(p, a);
  ASSERT_TRUE(r.status.Succeeded());
  EXPECT_EQ(r.Text(), "");
  a = Args();
  a.useRGB = false;
  a.luminanceValue = 0.2;
  a.luminanceRange = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(Run(p, a).Text(), "");
}

TEST_F(FindSpots, EmptyArgumentsReadAsTheHostsDefaults) {
  // Everything empty: minBlobSize 0, luminance mode, value and range 0, so
  // only black pixels are foreground.
  WriteBmp(FromRows({"#..", "###"}), dir.File("img.bmp"));
  XSI::CValueArray args;
  args.Add(XSI::CValue(XSI::CString::FromUtf8(dir.Prefix())));
  args.Add(XSI::CValue(XSI::CString(L"img")));
  const RunResult r = RunCommand(L"findSpots", args);
  ASSERT_TRUE(r.status.Succeeded()) << r.LogText();
  EXPECT_EQ(r.Text(), "0,1,1,1,0,1#");
}

TEST_F(FindSpots, ForegroundKeepsItsTruncatedColourAndBackgroundTurnsBlack) {
  // 16 x 16 pixels holding every 8-bit value once in each channel; all
  // foreground, too small to be a blob, so nothing is outlined.
  Picture p(16, 16);
  for (int v = 0; v < 256; ++v)
    p.Set(v % 16, v / 16, static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(255 - v),
          static_cast<std::uint8_t>((v * 7) & 0xFF));
  Args a;
  a.red = a.green = a.blue = 0.5;
  a.rangeR = a.rangeG = a.rangeB = 0.5;
  a.minBlobSize = 1000;
  ASSERT_TRUE(Run(p, a).status.Succeeded());
  const Picture out = Bitmap();
  ASSERT_EQ(out.width, 16);
  for (int v = 0; v < 256; ++v) {
    const std::uint8_t* c = out.At(v % 16, v / 16);
    EXPECT_EQ(c[0], ExpectedByte(v));
    EXPECT_EQ(c[1], ExpectedByte(255 - v));
    EXPECT_EQ(c[2], ExpectedByte((v * 7) & 0xFF));
  }
  // Narrow the red range: what falls out is black.
  a.red = 1.0;
  a.rangeR = 0.0;
  ASSERT_TRUE(Run(p, a).status.Succeeded());
  const Picture narrowed = Bitmap();
  for (int v = 0; v < 255; ++v) {
    const std::uint8_t* c = narrowed.At(v % 16, v / 16);
    EXPECT_EQ(c[0] | c[1] | c[2], 0) << v;
  }
  EXPECT_EQ(narrowed.At(15, 15)[0], 255);
}

// ---- labelling through the host ---------------------------------------------------

TEST_F(FindSpots, MinimumSizeIsStrictAndIndicesSkipDroppedRegions) {
  Picture p = FromRows({"##....", "......", "..###.", "......", "###..#"});
  // Scan from row 0 (the picture's bottom row "###..#"): 3 px, 1 px, 3 px, 2 px.
  EXPECT_EQ(Run(p, White(2)).Text(), "0,1,0,2,0,1#1,3,2,2,0,1#");
  EXPECT_EQ(Run(p, White(3)).Text(), "");
  EXPECT_EQ(Run(p, White(0)).Text(), "0,1,0,2,0,1#1,5,0,0,0,1#2,3,2,2,0,1#3,0,4,1,0,1#");
  // The first region found is dropped: the next takes index 0.
  EXPECT_EQ(Run(FromRows({"###", "...", "#.."}), White(1)).Text(), "0,1,2,2,0,1#");
}

TEST_F(FindSpots, BordersBelongToTheirRegions) {
  // Bottom row (host row 0) full, a blob hugging column 0, one the last
  // column and one the top row.
  Picture p = FromRows({"...###", "#.....", "##...#", "#....#", "......", "######"});
  EXPECT_EQ(Run(p, White(0)).Text(), "0,2,0,5,0,1#1,0,3,1,2,1#2,5,2,0,1,1#3,4,5,2,0,1#");
}

TEST_F(FindSpots, LargeSingleRegionFillsWholeImage) {
  Picture p(2000, 2000, 255, 255, 255);
  const RunResult r = Run(p, White(0));
  ASSERT_TRUE(r.status.Succeeded()) << r.LogText();
  EXPECT_EQ(r.Text(), "0,999,999,1999,1999,1#");
}

TEST_F(FindSpots, WideImageBeyondSixteenBitColumns) {
  Picture p(70000, 3, 255, 255, 255);
  p.Set(69990, 1, 0, 0, 0);
  const RunResult r = Run(p, White(0));
  ASSERT_TRUE(r.status.Succeeded()) << r.LogText();
  EXPECT_EQ(r.Text(), "0,34999,1,69999,2,1#");
  const Picture out = Bitmap();
  ASSERT_EQ(out.width, 70000);
  EXPECT_TRUE(IsGreen(out, 69999, 0));
  EXPECT_TRUE(IsGreen(out, 0, 2));
  EXPECT_FALSE(IsGreen(out, 69999, 2));
}

// ---- statistics through the host --------------------------------------------------

TEST_F(FindSpots, TenByTenSquareOutline) {
  Picture p(40, 45);
  for (int y = 30; y < 40; ++y)
    for (int x = 20; x < 30; ++x) p.Set(x, y, 255, 255, 255);
  const RunResult r = Run(p, White(0));
  EXPECT_EQ(r.Text(), "0,24,34,9,9,1#");
  const Picture out = Bitmap();
  for (int y = 0; y < 45; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool edge = ((y == 30 || y == 39) && x >= 20 && x <= 28) || ((x == 20 || x == 29) && y >= 30 && y <= 38);
      const bool inside = x >= 20 && x < 30 && y >= 30 && y < 40;
      const std::uint8_t* c = out.At(x, y);
      if (edge) EXPECT_TRUE(IsGreen(out, x, y)) << x << "," << y;
      else if (inside) EXPECT_TRUE(c[0] == 255 && c[1] == 255 && c[2] == 255) << x << "," << y;
      else EXPECT_TRUE(c[0] == 0 && c[1] == 0 && c[2] == 0) << x << "," << y;
    }
}

TEST_F(FindSpots, SmallBlobsTruncateTheirCentres) {
  Picture p(10, 12);
  p.SetGrey(5, 9, 255);                       // single pixel
  for (int x = 2; x <= 4; ++x) p.SetGrey(x, 3, 255);  // a row of three
  p.SetGrey(7, 5, 255);
  p.SetGrey(8, 5, 255);                       // 15 / 2
  EXPECT_EQ(Run(p, White(0)).Text(), "0,3,3,2,0,1#1,7,5,1,0,1#2,5,9,0,0,1#");
  const Picture out = Bitmap();
  EXPECT_TRUE(IsGreen(out, 2, 3));
  EXPECT_TRUE(IsGreen(out, 3, 3));
  EXPECT_FALSE(IsGreen(out, 4, 3));
  EXPECT_FALSE(IsGreen(out, 5, 9));
}

TEST_F(FindSpots, ElevationIsReadAtTheCentreEvenOutsideARingBlob) {
  // A ring around (5, 5); the elevation map is 200 there, 10 elsewhere.
  Picture p(11, 11);
  for (int i = 2; i <= 8; ++i) {
    p.SetGrey(i, 2, 255);
    p.SetGrey(i, 8, 255);
    p.SetGrey(2, i, 255);
    p.SetGrey(8, i, 255);
  }
  Picture e(11, 11, 10, 10, 10);
  e.Set(5, 5, 200, 30, 40);
  WriteBmp(e, dir.File("img_elevation.bmp"));
  Args a = White(0);
  a.withElevation = true;
  const RunResult r = Run(p, a);
  ASSERT_TRUE(r.status.Succeeded()) << r.LogText();
  EXPECT_EQ(r.Text(), "0,5,5,6,6," + std::to_string(ExpectedByte(200)) + "#");
  EXPECT_FALSE(r.Logged("no elevation map", 8));
  a.withElevation = false;
  EXPECT_EQ(Run(p, a).Text(), "0,5,5,6,6,1#");
}

TEST_F(FindSpots, GeoTiffMapsGiveTheSameSpotsAsBmp) {
  // The host reads a picture by its content: a tiled GeoTIFF written by GDAL
  // under the .bmp names findSpots asks for gives the BMP's answer.
  Picture p(11, 11);
  for (int y = 2; y <= 4; ++y)
    for (int x = 6; x <= 9; ++x) p.SetGrey(x, y, 255);
  Picture e(11, 11, 10, 10, 10);
  e.Set(7, 3, 180, 30, 40);
  Args a = White(0);
  a.withElevation = true;
  WriteBmp(e, dir.File("img_elevation.bmp"));
  const RunResult bmp = Run(p, a);
  ASSERT_TRUE(bmp.status.Succeeded()) << bmp.LogText();
  WriteGeoTiff(p, dir.File("img.bmp"));
  WriteGeoTiff(e, dir.File("img_elevation.bmp"));
  a.imagesPath = dir.Prefix();
  const RunResult tif = RunFindSpots(a);
  ASSERT_TRUE(tif.status.Succeeded()) << tif.LogText();
  EXPECT_EQ(tif.Text(), bmp.Text());
  EXPECT_NE(tif.Text().find("," + std::to_string(ExpectedByte(180)) + "#"), std::string::npos) << tif.Text();
}

// ---- blobs.bmp ---------------------------------------------------------------------

TEST_F(FindSpots, BitmapDecodesBackTheRightWayUp) {
  Picture p = FromRows({"r....", "..##.", "..##.", "....b"});
  Args a;  // everything but black; the single pixels are too small
  a.useRGB = false;
  a.luminanceValue = 0.175;
  a.luminanceRange = 0.165;
  a.minBlobSize = 1;
  ASSERT_TRUE(Run(p, a).status.Succeeded());
  const auto bytes = ReadBytes(dir.File("blobs.bmp"));
  ASSERT_EQ(bytes.size(), 54u + 16u * 4u);
  EXPECT_EQ(bytes[46], 64);
  // Raster row 0 (the host's bottom row, holding the blue pixel) comes first.
  EXPECT_EQ(bytes[54 + 4 * 3 + 0], 255);
  EXPECT_EQ(bytes[54 + 4 * 3 + 2], 0);
  const Picture out = Bitmap();
  ASSERT_EQ(out.width, 5);
  ASSERT_EQ(out.height, 4);
  EXPECT_EQ(out.At(0, 3)[0], 255);  // red, top-left
  EXPECT_EQ(out.At(4, 0)[2], 255);  // blue, bottom-right
  EXPECT_TRUE(IsGreen(out, 2, 1));
  EXPECT_TRUE(IsGreen(out, 2, 2));
  EXPECT_TRUE(IsGreen(out, 3, 1));
  EXPECT_EQ(out.At(3, 2)[0], 255);  // the far corner keeps its white
  EXPECT_EQ(out.At(3, 2)[1], 255);

  // And the host reads the bitmap back as the same picture.
  XSI::CValueArray args(1);
  args[0] = XSI::CValue(XSI::CString::FromUtf8(dir.File("blobs.bmp")));
  const RunResult clip = RunCommand(L"CreateImageClip", args);
  ASSERT_TRUE(clip.status.Succeeded()) << clip.LogText();
  const XSI::Image image = XSI::ImageClip2(clip.out.GetAsRef()).GetImage();
  XSI::CColor c;
  image.GetPixelValue(0, 3, c);
  EXPECT_EQ(c.r, 1.0);
  image.GetPixelValue(4, 0, c);
  EXPECT_EQ(c.b, 1.0);
}

TEST_F(FindSpots, EveryRunReplacesTheBitmap) {
  WriteBytes(dir.File("blobs.bmp"), std::vector<std::uint8_t>(5000, 0xEE));
  ASSERT_TRUE(Run(Picture(3, 2), White()).status.Succeeded());
  EXPECT_EQ(ReadBytes(dir.File("blobs.bmp")).size(), 54u + 12u * 2u);
  ASSERT_TRUE(Run(Picture(1, 1), White()).status.Succeeded());
  EXPECT_EQ(ReadBytes(dir.File("blobs.bmp")).size(), 58u);
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(FindSpots, UnwritableBitmapIsAWarningAndTheResultStillComes) {
  std::filesystem::create_directory(dir.File("blobs.bmp"));
  const RunResult r = Run(FromRows({"#."}), White());
  EXPECT_TRUE(r.status.Succeeded()) << r.LogText();
  EXPECT_EQ(r.Text(), "0,0,0,0,0,1#");
  EXPECT_TRUE(r.Logged("'blobs.bmp'", 4)) << r.LogText();
  EXPECT_TRUE(r.Logged("the bitmap was not written: 'blobs.bmp' is a folder, not a file", 4)) << r.LogText();
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("blobs.bmp")));
}

// ---- consistency and bad input -----------------------------------------------------

TEST_F(FindSpots, ConsecutiveRunsDoNotInfluenceEachOther) {
  Picture big(30, 20);
  for (int x = 0; x < 30; x += 3) big.SetGrey(x, 7, 255);
  Picture small = FromRows({"#.#", "###"});
  const std::string bigAlone = Run(big, White(0)).Text();
  const std::string smallAlone = Run(small, White(0)).Text();
  const auto smallBitmap = ReadBytes(dir.File("blobs.bmp"));
  Run(big, White(0));
  EXPECT_EQ(Run(small, White(0)).Text(), smallAlone);
  EXPECT_EQ(ReadBytes(dir.File("blobs.bmp")), smallBitmap);
  EXPECT_EQ(Run(big, White(0)).Text(), bigAlone);
  EXPECT_EQ(smallAlone, "0,1,0,2,1,1#");
}

class FindSpotsBadInput : public FindSpots {
 protected:
  // A kept bitmap from an earlier run must survive a failing one.
  void SetUp() override {
    FindSpots::SetUp();
    WriteBytes(dir.File("blobs.bmp"), kept);
  }
  void ExpectFailedCleanly(const RunResult& r, const std::string& named) {
    EXPECT_FALSE(r.status.Succeeded());
    EXPECT_TRUE(r.out.IsEmpty()) << r.Text();
    EXPECT_TRUE(r.Logged(named, 2)) << r.LogText();
    EXPECT_EQ(ReadBytes(dir.File("blobs.bmp")), kept);
  }
  const std::vector<std::uint8_t> kept = std::vector<std::uint8_t>{'k', 'e', 'p', 't'};
};

TEST_F(FindSpotsBadInput, MissingImage) {
  Args a = White();
  a.imagesPath = dir.Prefix();
  a.imageName = "absent";
  ExpectFailedCleanly(RunFindSpots(a), dir.File("absent.bmp"));
}

TEST_F(FindSpotsBadInput, UndecodableImage) {
  WriteBytes(dir.File("img.bmp"), std::vector<std::uint8_t>{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i'});
  Args a = White();
  a.imagesPath = dir.Prefix();
  ExpectFailedCleanly(RunFindSpots(a), dir.File("img.bmp"));
}

TEST_F(FindSpotsBadInput, EmptyImage) {
  WriteBmp(Picture(0, 0), dir.File("img.bmp"));
  Args a = White();
  a.imagesPath = dir.Prefix();
  ExpectFailedCleanly(RunFindSpots(a), dir.File("img.bmp"));
}

TEST_F(FindSpotsBadInput, MissingElevationImage) {
  Args a = White();
  a.withElevation = true;
  ExpectFailedCleanly(Run(Picture(4, 4, 255, 255, 255), a), dir.File("img_elevation.bmp"));
}

TEST_F(FindSpotsBadInput, ElevationImageOfAnotherSize) {
  WriteBmp(Picture(4, 5), dir.File("img_elevation.bmp"));
  Args a = White();
  a.withElevation = true;
  const RunResult r = Run(Picture(4, 4, 255, 255, 255), a);
  ExpectFailedCleanly(r, dir.File("img_elevation.bmp"));
  EXPECT_TRUE(r.Logged("4 x 5", 2)) << r.LogText();
}

TEST_F(FindSpotsBadInput, FailedRunLeavesTheNextOneUnharmed) {
  Args a = White();
  a.imagesPath = dir.Prefix();
  a.imageName = "absent";
  EXPECT_FALSE(RunFindSpots(a).status.Succeeded());
  const RunResult r = Run(FromRows({"##"}), White());
  EXPECT_TRUE(r.status.Succeeded());
  EXPECT_EQ(r.Text(), "0,0,0,1,0,1#");
}

namespace {

[[maybe_unused]] long VmSizeKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmSize:", 0) == 0) return std::stol(line.substr(7));
  return -1;
}

}  // namespace

TEST_F(FindSpotsBadInput, RunningOutOfMemoryIsAnErrorNotACrash) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit does not mix with AddressSanitizer";
#else
  // One pixel wide and 12,000,000 tall: the host needs 36 MB for the decoded
  // picture (38 MB in whole huge pages); the run's foreground mask, a 64-bit
  // word a row, needs 96 MB, well over the 16 MB left beyond that, and more
  // than the 64 MB a thread's malloc arena keeps in reserve (writing the
  // picture here, and decoding it there, start threads whose arenas the
  // allocator may fall back on).
  WriteBmp(Picture(1, 12000000, 255, 255, 255), dir.File("img.bmp"));
  Args a = White();
  a.imagesPath = dir.Prefix();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlim_t limit = static_cast<rlim_t>(VmSizeKb()) * 1024 + (38 + 16) * 1024 * 1024;
    const rlimit rl{limit, limit};
    setrlimit(RLIMIT_AS, &rl);
    const RunResult r = RunFindSpots(a);
    const bool ok = r.status.GetCode() == XSI::CStatus::OutOfMemory && r.out.IsEmpty() &&
                    r.Logged("not enough memory", 2) && r.Logged(dir.File("img.bmp"), 2) &&
                    ReadBytes(dir.File("blobs.bmp")) == kept;
    if (!ok) std::fprintf(stderr, "status %ld\n%s", r.status.GetCode(), r.LogText().c_str());
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the run crashed (signal " << WTERMSIG(status) << ")";
  EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

// ---- large pictures on two threads ---------------------------------------------

namespace {

// Runs `body` with the process allowed only CPU `cpu` (one CPU: every step on
// one thread), then gives the old CPUs back.
template <class F>
void OnOneCpu(F&& body) {
  cpu_set_t old, one;
  ASSERT_EQ(sched_getaffinity(0, sizeof old, &old), 0);
  CPU_ZERO(&one);
  for (int c = 0; c < CPU_SETSIZE; ++c)
    if (CPU_ISSET(c, &old)) {
      CPU_SET(c, &one);
      break;
    }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  body();
  ASSERT_EQ(sched_setaffinity(0, sizeof old, &old), 0);
}

}  // namespace

// A picture over 8 MiB is decoded, marked and written on two threads, and
// blobs.bmp is made while the labelling goes on. Same text and same bytes as
// on one CPU, with blobs that keep rows from settling for long: a tall bar
// open from the first row to the last, touching thin blobs that close early,
// small blobs that wait behind it, and blobs across the middle row.
TEST_F(FindSpots, ALargePictureGivesTheSameResultOnTwoThreadsAsOnOne) {
  const int w = 1800, h = 1700;
  Picture p(w, h, 20, 20, 20);
  for (int y = 0; y < h; ++y) p.Set(5, y, 255, 255, 255);  // the tall bar
  std::uint32_t state = 77u;
  for (int i = 0; i < 3000; ++i) {
    state = state * 1664525u + 1013904223u;
    const int x0 = 8 + static_cast<int>(state >> 9) % (w - 8), y0 = static_cast<int>(state >> 3) % h;
    const int bw = 1 + static_cast<int>(state % 25), bh = 1 + static_cast<int>((state >> 20) % 40);
    for (int y = y0; y < std::min(h, y0 + bh); ++y)
      for (int x = x0; x < std::min(w, x0 + bw); ++x) p.Set(x, y, 255, 255, 255);
  }
  for (int y = 0; y < h; y += 97) p.Set(6, y, 255, 255, 255), p.Set(7, y, 255, 255, 255);  // spurs on the bar
  WriteBmp(p, dir.File("img.bmp"));
  Args a = White(12);
  a.imagesPath = dir.Prefix();

  RunResult one;
  std::vector<std::uint8_t> oneBitmap;
  OnOneCpu([&] {
    one = RunFindSpots(a);
    oneBitmap = ReadBytes(dir.File("blobs.bmp"));
  });
  ASSERT_TRUE(one.status.Succeeded()) << one.LogText();
  std::remove(dir.File("blobs.bmp").c_str());
  const RunResult two = RunFindSpots(a);
  ASSERT_TRUE(two.status.Succeeded()) << two.LogText();
  EXPECT_EQ(two.Text(), one.Text());
  EXPECT_TRUE(ReadBytes(dir.File("blobs.bmp")) == oneBitmap);
  const std::string text = one.Text();
  EXPECT_GT(std::count(text.begin(), text.end(), '#'), 1000);
}
