// RenderPreview: the pictures it makes (colours under the documented
// lighting, framing, which face each view shows), its argument checks, and
// that files are only ever replaced by a whole picture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "host_test_util.h"
#include "image_data.h"
#include "plugin_loader.h"
#include "egl_context.h"
#include "preview_renderer.h"
#include "preview_settings.h"

namespace {

namespace fs = std::filesystem;
using host::render::RgbImage;
using testutil::Exec;
using testutil::LastError;

struct Rgb {
  int r, g, b;
};

Rgb At(const RgbImage& img, int x, int y) {
  const std::uint8_t* p = img.pixels.data() + (static_cast<std::size_t>(y) * img.width + x) * 3;
  return {p[0], p[1], p[2]};
}

Rgb Expected(const float (&colour)[3], float light) {
  auto c = [&](float v) { return static_cast<int>(std::lround(std::min(1.0f, v * light) * 255)); };
  return {c(colour[0]), c(colour[1]), c(colour[2])};
}

void ExpectNear(Rgb got, Rgb want, int tolerance, const char* where) {
  EXPECT_NEAR(got.r, want.r, tolerance) << where;
  EXPECT_NEAR(got.g, want.g, tolerance) << where;
  EXPECT_NEAR(got.b, want.b, tolerance) << where;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The scene's meshes as the command hands them to the renderer.
bool Render(int width, int height, host::render::View view, RgbImage& img, std::string& error) {
  std::vector<std::shared_ptr<const host::Mesh>> meshes;
  std::vector<host::ExportItem> items;
  for (host::SceneObject* obj : host::Runtime::Get().GetScene().Objects()) {
    if (!obj->geometry.HasMesh()) continue;
    meshes.push_back(obj->geometry.Snapshot());
    items.push_back({"x", meshes.back().get(), obj->xf});
  }
  return host::render::RenderPreview(items, {width, height, view}, img, error);
}

class PreviewTest : public testutil::HostTest {
 protected:
  void SetUp() override {
    testutil::HostTest::SetUp();
    unsetenv("DISPLAY");  // nothing here may need a display server
    unsetenv("WAYLAND_DISPLAY");
  }
  // A unit cube (0..1) in material "paint" of diffuse `kCubeColour`.
  void ImportCube() {
    dir_.Write("cube.mtl", "newmtl paint\nKd 0.2 0.6 0.4\n");
    const std::string obj = dir_.Write("cube.obj", std::string("mtllib cube.mtl\nusemtl paint\n") + testutil::kCubeObj);
    ASSERT_TRUE(Exec(L"ObjImport", {XSI::CString::FromUtf8(obj)}).Succeeded()) << LastError();
  }
  static constexpr float kCubeColour[3] = {0.2f, 0.6f, 0.4f};
};

// The lit colour of a face whose normal is +Y.
float TopLight() {
  const float* s = host::render::kSunDirection;
  return host::render::kAmbient + host::render::kSun * s[1] / std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
}

TEST_F(PreviewTest, CubeFromTopIsItsColourUnderTheSunOnBackground) {
  ImportCube();
  RgbImage img;
  std::string error;
  ASSERT_TRUE(Render(200, 160, host::render::View::Top, img, error)) << error;
  ASSERT_EQ(img.width, 200);
  ASSERT_EQ(img.height, 160);
  ExpectNear(At(img, 100, 80), Expected(kCubeColour, TopLight()), 2, "centre");
  const Rgb background = Expected(host::render::kBackgroundColour, 1.0f);
  ExpectNear(At(img, 0, 0), background, 1, "top left");
  ExpectNear(At(img, 199, 0), background, 1, "top right");
  ExpectNear(At(img, 0, 159), background, 1, "bottom left");
  ExpectNear(At(img, 199, 159), background, 1, "bottom right");
  // Framed with a small margin: the cube reaches close to the top and
  // bottom edges of the picture (its longer side here) but not onto them.
  ExpectNear(At(img, 100, 12), Expected(kCubeColour, TopLight()), 2, "near the top edge");
  ExpectNear(At(img, 100, 2), background, 1, "in the margin");
}

// Pictures larger than one tile are put together from tiles: the seams
// must not show and the framing must stay centred.
TEST_F(PreviewTest, LargePictureIsSeamlessAndCentred) {
  ImportCube();
  RgbImage img;
  std::string error;
  ASSERT_TRUE(Render(2300, 2300, host::render::View::Top, img, error)) << error;
  const Rgb cube = Expected(kCubeColour, TopLight());
  for (int p : {2046, 2047, 2048, 2049}) {
    ExpectNear(At(img, p, 1150), cube, 2, "across the column seam");
    ExpectNear(At(img, 1150, p), cube, 2, "across the row seam");
  }
  int first = -1, last = -1;
  for (int x = 0; x < img.width; ++x) {
    const Rgb c = At(img, x, 1150);
    if (std::abs(c.g - cube.g) > 2) continue;
    if (first < 0) first = x;
    last = x;
  }
  EXPECT_NEAR(first, img.width - 1 - last, 1) << first << " " << last;
}

// The ground and the clipping planes used to have fixed sizes, so a scene
// of 1e-6 units shrank behind a ground of 1e-3 and a flat terrain of 1e-8
// vanished. Framed from the scene's own bounds, the cube covers the same
// part of the picture at any scale, in every view.
TEST_F(PreviewTest, AScaledSceneFillsTheFrameAsAtScaleOne) {
  ImportCube();
  auto cubePixels = [](const RgbImage& img) {
    int n = 0;
    for (int y = 0; y < img.height; ++y)
      for (int x = 0; x < img.width; ++x) n += At(img, x, y).g - At(img, x, y).r > 30;
    return n;
  };
  auto scale = [](double x, double y, double z) {
    ASSERT_TRUE(Exec(L"SetValue", {L"cube.sclx", x}).Succeeded()) << LastError();
    ASSERT_TRUE(Exec(L"SetValue", {L"cube.scly", y}).Succeeded()) << LastError();
    ASSERT_TRUE(Exec(L"SetValue", {L"cube.sclz", z}).Succeeded()) << LastError();
  };
  for (host::render::View view : {host::render::View::Iso, host::render::View::Front, host::render::View::Top}) {
    SCOPED_TRACE(host::render::ViewName(view));
    scale(1, 1, 1);
    RgbImage unit;
    std::string error;
    ASSERT_TRUE(Render(200, 160, view, unit, error)) << error;
    const int expected = cubePixels(unit);
    ASSERT_GT(expected, 200 * 160 / 5);
    for (double s : {1e-6, 1e6}) {
      scale(s, s, s);
      RgbImage img;
      ASSERT_TRUE(Render(200, 160, view, img, error)) << error;
      EXPECT_NEAR(cubePixels(img), expected, expected / 50) << s;
    }
    // A flat slab 1e-8 high, as a flat terrain: seen from above or at an
    // angle it fills the picture (from the front it is edge on).
    if (view == host::render::View::Front) continue;
    scale(1, 1e-8, 1);
    RgbImage flat;
    ASSERT_TRUE(Render(200, 160, view, flat, error)) << error;
    EXPECT_GT(cubePixels(flat), 200 * 160 / 20) << "flat";
    scale(1e-6, 1e-14, 1e-6);
    ASSERT_TRUE(Render(200, 160, view, flat, error)) << error;
    EXPECT_GT(cubePixels(flat), 200 * 160 / 20) << "tiny flat";
  }
}

TEST_F(PreviewTest, SameSceneGivesTheSameBytes) {
  ImportCube();
  const std::string a = dir_.File("a.png"), b = dir_.File("b.png");
  ASSERT_TRUE(Exec(L"RenderPreview", {XSI::CString::FromUtf8(a), 320, 240, L"iso"}).Succeeded()) << LastError();
  ASSERT_TRUE(Exec(L"RenderPreview", {XSI::CString::FromUtf8(b), 320, 240, L"iso"}).Succeeded()) << LastError();
  const std::string first = ReadAll(a);
  ASSERT_GT(first.size(), 8u);
  EXPECT_EQ(first, ReadAll(b));
  EXPECT_EQ(first.find("tIME"), std::string::npos);
}

TEST_F(PreviewTest, WritesAPngOfTheAskedSizeWithDefaults) {
  ImportCube();
  const std::string path = dir_.File("cube.png");
  ASSERT_TRUE(Exec(L"RenderPreview", {XSI::CString::FromUtf8(path)}).Succeeded()) << LastError();
  std::string error;
  auto image = host::LoadImageFile(path, error);
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(image->width, 800);
  EXPECT_EQ(image->height, 600);
  EXPECT_EQ(image->channels, 3);
}

// Each bad argument is refused with its value named, and no file appears.
TEST_F(PreviewTest, RefusesBadSizesViewsAndNames) {
  ImportCube();
  const std::string path = dir_.File("bad.png");
  const XSI::CString p = XSI::CString::FromUtf8(path);
  struct Case {
    XSI::CValue width, height, view;
    const char* named;
  };
  const Case cases[] = {
      {0, 600, L"iso", "width 0 is not a picture size"},
      {800, 0, L"iso", "height 0 is not a picture size"},
      {8193, 600, L"iso", "width 8193"},
      {800, 100000, L"iso", "height 100000"},
      {-4, 600, L"iso", "width -4"},
      {12.5, 600, L"iso", "'12.5' is not a whole number"},
      {L"wide", 600, L"iso", "'wide' is not a whole number"},
      {800, 600, L"diagonal", "unknown view 'diagonal'"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(Exec(L"RenderPreview", {p, c.width, c.height, c.view}).Succeeded()) << c.named;
    EXPECT_NE(LastError().find(c.named), std::string::npos) << LastError();
    EXPECT_FALSE(fs::exists(path)) << c.named;
  }
  EXPECT_FALSE(Exec(L"RenderPreview", {XSI::CString::FromUtf8(dir_.File("cube.jpg"))}).Succeeded());
  EXPECT_NE(LastError().find("must end in .png"), std::string::npos) << LastError();
  EXPECT_FALSE(Exec(L"RenderPreview", {}).Succeeded());
  // Real whole numbers and numeric text are fine; so is a capitalised view.
  EXPECT_TRUE(Exec(L"RenderPreview", {p, 64.0, L"48", L"Front"}).Succeeded()) << LastError();
}

// An empty scene is an error, and the file that was there stays as it was.
TEST_F(PreviewTest, EmptySceneIsAnErrorAndKeepsTheOldFile) {
  const std::string path = dir_.Write("old.png", "old bytes");
  EXPECT_FALSE(Exec(L"RenderPreview", {XSI::CString::FromUtf8(path)}).Succeeded());
  EXPECT_NE(LastError().find("no polygons to show"), std::string::npos) << LastError();
  EXPECT_NE(LastError().find(path), std::string::npos) << LastError();
  EXPECT_EQ(ReadAll(path), "old bytes");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1);
}

// The draw list is kept while the scene is unchanged and built again on
// every change: each change below must show in the picture, and a picture
// of the unchanged scene must come from the kept list.
TEST_F(PreviewTest, EverySceneChangeRendersTheNewSceneAndNoneReusesTheOldList) {
  ImportCube();
  int n = 0;
  auto render = [&](const wchar_t* view = L"iso") {
    const std::string path = dir_.File("p" + std::to_string(n++) + ".png");
    EXPECT_TRUE(Exec(L"RenderPreview", {XSI::CString::FromUtf8(path), 160, 120, view}).Succeeded()) << LastError();
    return ReadAll(path);
  };
  auto builds = [] { return host::render::PreviewDrawListBuilds(); };
  const std::string cube = render();
  const auto afterFirst = builds();
  EXPECT_EQ(render(), cube);
  EXPECT_NE(render(L"top"), cube);  // the view alone keeps the list
  EXPECT_EQ(builds(), afterFirst);

  ASSERT_EQ(Exec(L"SetValue", {L"cube.sclx", 3.0}), XSI::CStatus::OK) << LastError();
  const std::string wide = render();
  EXPECT_NE(wide, cube);
  EXPECT_EQ(builds(), afterFirst + 1);

  ASSERT_EQ(Exec(L"Duplicate", {L"cube"}), XSI::CStatus::OK) << LastError();
  const std::string twoCoinciding = render();  // the copy covers the cube: a list anew, the same picture
  EXPECT_EQ(builds(), afterFirst + 2);
  ASSERT_EQ(Exec(L"Translate", {L"cube1", 0.0, 2.0, 0.0}), XSI::CStatus::OK) << LastError();
  const std::string stacked = render();
  EXPECT_NE(stacked, wide);
  ASSERT_EQ(Exec(L"DeleteObj", {L"cube1"}), XSI::CStatus::OK) << LastError();
  EXPECT_EQ(render(), wide);  // built again, the one cube left
  EXPECT_EQ(builds(), afterFirst + 4);

  // A material edited in place (no command): the mesh gets a new snapshot.
  host::SceneObject* obj = testutil::Find(L"cube");
  ASSERT_NE(obj, nullptr);
  obj->geometry.Edit().materials[0].diffuse = {1, 0, 0};
  EXPECT_NE(render(), wide);

  // A new scene of the same file: new objects, the first picture again.
  ASSERT_EQ(Exec(L"NewScene", {}), XSI::CStatus::OK);
  EXPECT_FALSE(Exec(L"RenderPreview", {XSI::CString::FromUtf8(dir_.File("none.png"))}).Succeeded());
  EXPECT_NE(LastError().find("no polygons to show"), std::string::npos) << LastError();
  ImportCube();
  EXPECT_EQ(render(), cube);
  (void)twoCoinciding;
}

// 4x multisampling: the slanted edges of a turned cube seen from the top
// blend cube and background in steps of a quarter.
TEST_F(PreviewTest, EdgesAreMultisampled) {
  ImportCube();
  ASSERT_EQ(Exec(L"SetValue", {L"cube.roty", 30.0}), XSI::CStatus::OK) << LastError();
  RgbImage img;
  std::string error;
  ASSERT_TRUE(Render(200, 160, host::render::View::Top, img, error)) << error;
  const Rgb cube = Expected(kCubeColour, TopLight()), background = Expected(host::render::kBackgroundColour, 1.0f);
  int mixed[5] = {};  // pixels nearest a mix of 0, 1, 2, 3, 4 quarters of cube
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) {
      const Rgb c = At(img, x, y);
      const double t = double(c.r - background.r) / (cube.r - background.r);
      if (t < -0.05 || t > 1.05) continue;
      const int quarter = static_cast<int>(std::lround(t * 4));
      if (std::abs(t * 4 - quarter) < 0.2) ++mixed[quarter];
    }
  EXPECT_GT(mixed[0], 1000);
  EXPECT_GT(mixed[4], 1000);
  for (int q : {1, 2, 3}) EXPECT_GT(mixed[q], 10) << q << " quarters";
}

TEST(PreviewSettings, ParsesSizesAndViews) {
  int w = 0, h = 0;
  std::string error;
  EXPECT_TRUE(host::render::ParsePreviewSize("800x600", w, h, error));
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);
  EXPECT_TRUE(host::render::ParsePreviewSize("8192X1", w, h, error));
  for (const char* bad : {"0x600", "800x0", "8193x10", "800", "x600", "800x", "-5x5", "8 00x600",
                          "99999999999x1", "800x600x2", ""}) {
    EXPECT_FALSE(host::render::ParsePreviewSize(bad, w, h, error)) << bad;
    EXPECT_NE(error.find(std::string("'") + bad + "'"), std::string::npos) << error;
  }
  host::render::View view{};
  EXPECT_TRUE(host::render::ParsePreviewView("TOP", view, error));
  EXPECT_EQ(view, host::render::View::Top);
  EXPECT_FALSE(host::render::ParsePreviewView("isometric", view, error));
  EXPECT_NE(error.find("'isometric'"), std::string::npos);
}

// ---- a real tower --------------------------------------------------------------

class TowerPreviewTest : public PreviewTest {
 protected:
  void SetUp() override {
    PreviewTest::SetUp();
    if (!plugins_) {
      plugins_ = std::make_unique<host::PluginManager>(host::Runtime::Get());
      ASSERT_TRUE(plugins_->Load(XSI_BINARY_DIR "/plugins/RaiseTower.so").Succeeded());
    }
    host::Runtime::Get().SetHomePath(XSI_SOURCE_DIR "/home");
  }
  static void TearDownTestSuite() { plugins_.reset(); }

  // The tower with its door material in a colour found nowhere else.
  void RaiseWithGreenDoor(const wchar_t* face) {
    ASSERT_TRUE(Exec(L"RaiseTower", {L"T", 2, 3, 3, L"brick", face, 1}).Succeeded()) << LastError();
    host::SceneObject* tower = testutil::Find(L"T");
    ASSERT_NE(tower, nullptr);
    bool found = false;
    for (host::Material& m : tower->geometry.Edit().materials) {
      if (m.name != "brick_door") continue;
      m.diffuse = {0, 1, 0};
      found = true;
    }
    ASSERT_TRUE(found);
  }

  static int GreenPixels(const RgbImage& img, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        const Rgb c = At(img, x, y);
        n += c.g > 100 && c.r < 40 && c.b < 40;
      }
    return n;
  }

  static std::unique_ptr<host::PluginManager> plugins_;
};

std::unique_ptr<host::PluginManager> TowerPreviewTest::plugins_;

// Face B is the +Z side: the front view shows its door low in the middle,
// the back view shows no door at all.
TEST_F(TowerPreviewTest, FrontShowsTheDoorAndBackDoesNot) {
  RaiseWithGreenDoor(L"B");
  RgbImage front, back;
  std::string error;
  ASSERT_TRUE(Render(300, 200, host::render::View::Front, front, error)) << error;
  ASSERT_TRUE(Render(300, 200, host::render::View::Back, back, error)) << error;
  EXPECT_GT(GreenPixels(front, 75, 100, 225, 200), 50);
  EXPECT_EQ(GreenPixels(front, 0, 0, 300, 100), 0);
  EXPECT_EQ(GreenPixels(back, 0, 0, 300, 200), 0);
}

// The default entrance, face A, is the +X side, which "iso" shows.
TEST_F(TowerPreviewTest, IsoShowsTheDefaultEntrance) {
  RaiseWithGreenDoor(L"A");
  RgbImage iso, left;
  std::string error;
  ASSERT_TRUE(Render(400, 300, host::render::View::Iso, iso, error)) << error;
  ASSERT_TRUE(Render(400, 300, host::render::View::Left, left, error)) << error;
  EXPECT_GT(GreenPixels(iso, 0, 150, 400, 300), 10);
  EXPECT_EQ(GreenPixels(left, 0, 0, 400, 300), 0);
}


// Pixels against pictures made before the draw list was kept and uploaded
// once (tests/host/fixtures/preview/): each channel within one level. Made
// with llvmpipe; another driver rasterises differently, so only llvmpipe
// is held to them.
TEST_F(TowerPreviewTest, MatchesTheReferencePicturesWithinOneLevel) {
  {
    std::string error;
    auto gl = host::render::OffscreenContext::Create(error);
    ASSERT_TRUE(gl) << error;
    if (gl->Renderer().find("llvmpipe") == std::string::npos) GTEST_SKIP() << "renderer " << gl->Renderer();
  }
  ASSERT_TRUE(Exec(L"RaiseTower", {L"T", 6, 5, 4, L"brick", L"A", 1}).Succeeded()) << LastError();
  struct Case {
    const char* reference;
    int width, height;
    const wchar_t* view;
  };
  for (const Case& c : {Case{"tower_6x5x4_iso_320x240.png", 320, 240, L"iso"},
                        Case{"tower_6x5x4_top_200x150.png", 200, 150, L"top"},
                        Case{"tower_6x5x4_iso_320x240.png", 320, 240, L"iso"}}) {
    const std::string path = dir_.File("now.png");
    ASSERT_TRUE(Exec(L"RenderPreview", {XSI::CString::FromUtf8(path), c.width, c.height, c.view}).Succeeded())
        << LastError();
    std::string error;
    auto now = host::LoadImageFile(path, error);
    ASSERT_TRUE(now) << error;
    auto want = host::LoadImageFile(XSI_SOURCE_DIR "/tests/host/fixtures/preview/" + std::string(c.reference), error);
    ASSERT_TRUE(want) << error;
    ASSERT_EQ(now->width, want->width);
    ASSERT_EQ(now->height, want->height);
    ASSERT_EQ(now->channels, want->channels);
    ASSERT_EQ(now->bitsPerChannel, 8);
    ASSERT_EQ(want->bitsPerChannel, 8);
    int worst = 0;
    std::size_t off = 0;
    for (int y = 0; y < now->height; ++y)
      for (std::size_t i = 0; i < static_cast<std::size_t>(now->width) * now->channels; ++i) {
        const int d = std::abs(int(now->Row(y)[i]) - int(want->Row(y)[i]));
        if (d > 1) ++off;
        worst = std::max(worst, d);
      }
    EXPECT_EQ(off, 0u) << c.reference << ": " << off << " channel values off by more than 1, worst by " << worst;
  }
}

}  // namespace
