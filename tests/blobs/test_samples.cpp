// The sample pictures in examples/images: the PNG and the BMP hold the same
// map, the elevation map matches it in size, and the documented run picks
// the red lots with their terrain height.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "blob_test_support.h"

using namespace blobtest;

namespace {

XSI::Image LoadThroughHost(const std::string& path) {
  XSI::CValueArray args(1);
  args[0] = XSI::CValue(XSI::CString::FromUtf8(path));
  const RunResult r = RunCommand(L"CreateImageClip", args);
  EXPECT_TRUE(r.status.Succeeded()) << r.LogText();
  return XSI::ImageClip2(r.out.GetAsRef()).GetImage();
}

std::vector<std::vector<int>> Entries(const std::string& text) {
  std::vector<std::vector<int>> out;
  std::stringstream all(text);
  std::string entry;
  while (std::getline(all, entry, '#')) {
    std::vector<int> fields;
    std::stringstream one(entry);
    std::string field;
    while (std::getline(one, field, ',')) fields.push_back(std::stoi(field));
    out.push_back(fields);
  }
  return out;
}

const std::string kImages = XSI_SOURCE_DIR "/examples/images/";

}  // namespace

TEST(FindSpotsSamples, PngAndBmpHoldTheSameMap) {
  EnsurePluginLoaded();
  const XSI::Image bmp = LoadThroughHost(kImages + "map.bmp");
  const XSI::Image png = LoadThroughHost(kImages + "map.png");
  const XSI::Image elevation = LoadThroughHost(kImages + "map_elevation.bmp");
  ASSERT_EQ(bmp.GetResX(), 512);
  ASSERT_EQ(bmp.GetResY(), 512);
  EXPECT_EQ(png.GetResX(), 512);
  EXPECT_EQ(png.GetResY(), 512);
  EXPECT_EQ(elevation.GetResX(), 512);
  EXPECT_EQ(elevation.GetResY(), 512);
  int differing = 0;
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x) {
      XSI::CColor a, b;
      bmp.GetPixelValue(static_cast<float>(x), static_cast<float>(y), a);
      png.GetPixelValue(static_cast<float>(x), static_cast<float>(y), b);
      differing += a.r != b.r || a.g != b.g || a.b != b.b;
    }
  EXPECT_EQ(differing, 0);
}

TEST(FindSpotsSamples, DocumentedRunFindsTheRedLotsWithTheirHeight) {
  EnsurePluginLoaded();
  ScratchDir dir;
  Args a;
  a.imagesPath = kImages;
  a.imageName = "map";
  a.minBlobSize = 20;
  a.red = 0.9, a.green = 0.1, a.blue = 0.1;
  a.rangeR = a.rangeG = a.rangeB = 0.05;
  a.withElevation = true;
  const RunResult r = RunFindSpots(a);
  ASSERT_TRUE(r.status.Succeeded()) << r.LogText();
  const auto entries = Entries(r.Text());
  ASSERT_GT(entries.size(), 20u);
  const XSI::Image elevation = LoadThroughHost(kImages + "map_elevation.bmp");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    ASSERT_EQ(e.size(), 6u);
    EXPECT_EQ(e[0], static_cast<int>(i));
    XSI::CColor c;
    elevation.GetPixelValue(static_cast<float>(e[1]), static_cast<float>(e[2]), c);
    EXPECT_EQ(e[5], static_cast<int>(c.r * 255.0));
    // Lots are at least a few pixels across and never wider than a block.
    EXPECT_GT(e[3], 2);
    EXPECT_LT(e[3], 64);
  }
  EXPECT_TRUE(FileExists(dir.File("blobs.bmp")));
}
