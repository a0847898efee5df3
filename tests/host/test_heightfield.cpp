// CreateHeightField: where each pixel lands (north = -Z, left = -X, origin at
// the picture's centre), heights from the red component, the sampled rows
// and columns (the last one always), normals, UVs, winding, and refusals that
// leave the scene as it was.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "command_args.h"
#include "heightfield.h"
#include "host_test_util.h"
#include "mesh_ops.h"

namespace {

using testutil::Exec;
using testutil::Find;
using testutil::LastError;

// A 24-bit BMP from RGB triples given top row first, as one reads a picture.
void WriteBmp(const std::string& path, int w, int h, const std::vector<std::uint8_t>& rgbTopDown) {
  const int stride = (w * 3 + 3) / 4 * 4;
  const std::uint32_t dataSize = std::uint32_t(stride * h), fileSize = 54 + dataSize;
  std::vector<std::uint8_t> b(fileSize, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, fileSize);
  put32(10, 54);
  put32(14, 40);
  put32(18, std::uint32_t(w));
  put32(22, std::uint32_t(h));
  b[26] = 1;
  b[28] = 24;
  put32(34, dataSize);
  for (int row = 0; row < h; ++row) {  // stored bottom-up
    const int src = h - 1 - row;
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* p = &rgbTopDown[(std::size_t(src) * w + x) * 3];
      std::uint8_t* q = &b[54 + std::size_t(row) * stride + std::size_t(x) * 3];
      q[0] = p[2];
      q[1] = p[1];
      q[2] = p[0];
    }
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
}

// A picture whose red component is `reds` (top row first), green and blue 0.
std::string RedPicture(const testutil::TempDir& dir, const std::string& name, int w, int h,
                       const std::vector<int>& reds) {
  std::vector<std::uint8_t> rgb;
  for (int r : reds) rgb.insert(rgb.end(), {std::uint8_t(r), 0, 0});
  const std::string path = (dir.path() / name).string();
  WriteBmp(path, w, h, rgb);
  return path;
}

class HeightFieldTest : public testutil::HostTest {
 protected:
  const host::Mesh& Terrain(const wchar_t* name = L"terrain") {
    host::SceneObject* obj = Find(name);
    EXPECT_NE(obj, nullptr);
    snapshot_ = obj->geometry.Snapshot();
    return *snapshot_;
  }
  XSI::CStatus Make(const std::string& path, XSI::CValue sizeX, XSI::CValue sizeZ, XSI::CValue height,
                    XSI::CValue step, const wchar_t* name = L"terrain") {
    return Exec(L"CreateHeightField",
                {XSI::CString::FromUtf8(path), name, sizeX, sizeZ, height, step});
  }
  std::shared_ptr<const host::Mesh> snapshot_;
};

void ExpectVertex(const host::Mesh& m, std::size_t i, float x, float y, float z) {
  ASSERT_LT(i, m.positions.size());
  EXPECT_FLOAT_EQ(m.positions[i].x, x) << "vertex " << i;
  EXPECT_FLOAT_EQ(m.positions[i].y, y) << "vertex " << i;
  EXPECT_FLOAT_EQ(m.positions[i].z, z) << "vertex " << i;
}

TEST_F(HeightFieldTest, EveryPixelOfA3x3PictureLandsWhereTheMappingSays) {
  // Distinct reds, so a flipped or mirrored picture shows.
  const std::string path = RedPicture(dir_, "h.bmp", 3, 3, {10, 20, 30, 40, 50, 60, 70, 80, 255});
  ASSERT_TRUE(Make(path, 3.0, 6.0, 51.0, 1).Succeeded()) << LastError();
  const host::Mesh& m = Terrain();
  ASSERT_EQ(m.VertexCount(), 9u);
  EXPECT_EQ(m.FaceCount(), 4u);
  // X = (c + 0.5 - 1.5) * 1, Z = (r + 0.5 - 1.5) * 2, Y = red * 51 / 255.
  ExpectVertex(m, 0, -1, 2, -2);  // top-left: north-west
  ExpectVertex(m, 2, 1, 6, -2);   // top-right
  ExpectVertex(m, 4, 0, 10, 0);   // centre at the origin
  ExpectVertex(m, 6, -1, 14, 2);  // bottom-left: south-west
  ExpectVertex(m, 8, 1, 51, 2);   // bottom-right, full red
  ASSERT_EQ(m.materials.size(), 1u);
  EXPECT_EQ(m.materials[0].name, "terrain");
}

TEST_F(HeightFieldTest, A2x2PictureHasOneQuadFacingUpWithUVsOntoThePicture) {
  const std::string path = RedPicture(dir_, "h.bmp", 2, 2, {0, 0, 0, 0});
  ASSERT_TRUE(Make(path, 4.0, 4.0, 10.0, 1).Succeeded()) << LastError();
  const host::Mesh& m = Terrain();
  ASSERT_EQ(m.FaceCount(), 1u);
  const host::Vec3 n = host::FaceNormalOf(m, 0);
  EXPECT_GT(n.y, 0.99f);
  ASSERT_EQ(m.cornerUV.size(), 4u);
  ASSERT_EQ(m.cornerNormal.size(), 4u);
  for (std::size_t c = 0; c < 4; ++c) {
    const host::Vec3 p = m.positions[m.cornerVertex[c]];
    // Pixel centres: u right, v up, so the top-left pixel has v = 0.75.
    EXPECT_FLOAT_EQ(m.cornerUV[c].x, p.x < 0 ? 0.25f : 0.75f);
    EXPECT_FLOAT_EQ(m.cornerUV[c].y, p.z < 0 ? 0.75f : 0.25f);
    EXPECT_FLOAT_EQ(m.cornerNormal[c].y, 1.0f);
  }
}

TEST_F(HeightFieldTest, StepSamplesEveryStepthPixelAndAlwaysTheLastRowAndColumn) {
  // 5 x 4: columns 0, 2, 4 (4 is the last anyway), rows 0, 2, 3 (3 added).
  std::vector<int> reds(20);
  for (int i = 0; i < 20; ++i) reds[i] = i * 10;
  const std::string path = RedPicture(dir_, "h.bmp", 5, 4, reds);
  ASSERT_TRUE(Make(path, 5.0, 4.0, 255.0, 2).Succeeded()) << LastError();
  const host::Mesh& m = Terrain();
  ASSERT_EQ(m.VertexCount(), 9u);
  EXPECT_EQ(m.FaceCount(), 4u);
  ExpectVertex(m, 0, -2, 0, -1.5f);   // column 0, row 0
  ExpectVertex(m, 2, 2, 40, -1.5f);   // column 4, row 0
  ExpectVertex(m, 3, -2, 100, 0.5f);  // column 0, row 2
  ExpectVertex(m, 8, 2, 190, 1.5f);   // column 4, row 3: the last pixel

  EXPECT_EQ(host::HeightFieldSamples(5, 100), (std::vector<std::uint32_t>{0, 4}));
  EXPECT_EQ(host::HeightFieldSamples(7, 3), (std::vector<std::uint32_t>{0, 3, 6}));
  EXPECT_EQ(host::HeightFieldSamples(8, 3), (std::vector<std::uint32_t>{0, 3, 6, 7}));
}

TEST_F(HeightFieldTest, NormalsLeanAwayFromTheUphillSide) {
  // Rising to the east: normals point west (-X) and up.
  const std::string path = RedPicture(dir_, "h.bmp", 3, 2, {0, 100, 200, 0, 100, 200});
  ASSERT_TRUE(Make(path, 3.0, 2.0, 2.55, 1).Succeeded()) << LastError();
  const host::Mesh& m = Terrain();
  for (const host::Vec3& n : m.cornerNormal) {
    EXPECT_LT(n.x, -0.5f);
    EXPECT_GT(n.y, 0.5f);
    EXPECT_NEAR(n.z, 0.0f, 1e-6f);
    EXPECT_NEAR(n.x * n.x + n.y * n.y + n.z * n.z, 1.0f, 1e-5f);
  }
}

TEST_F(HeightFieldTest, BadArgumentsAreRefusedByNameAndChangeNothing) {
  const std::string path = RedPicture(dir_, "h.bmp", 2, 2, {1, 2, 3, 4});
  ASSERT_TRUE(Make(path, 1.0, 1.0, 1.0, 1, L"taken").Succeeded());
  const std::size_t before = host::Runtime::Get().GetScene().Count();
  const double inf = INFINITY, nan = NAN;
  struct Case {
    XSI::CStatus status;
    std::string expected;
  } cases[] = {
      {Make(path, 0.0, 1.0, 1.0, 1), "sizeX must be a finite number > 0"},
      {Make(path, -2.0, 1.0, 1.0, 1), "got '-2"},
      {Make(path, inf, 1.0, 1.0, 1), "sizeX must be"},
      {Make(path, 1.0, nan, 1.0, 1), "sizeZ must be"},
      {Make(path, 1.0, L"abc", 1.0, 1), "sizeZ must be a finite number > 0 and at most 1e30, got 'abc'"},
      {Make(path, 1.0, 1.0, -1.0, 1), "height must be a finite number >= 0"},
      {Make(path, 1.0, 1.0, 1e40, 1), "height must be"},
      {Make(path, 1.0, 1.0, 1.0, 0), "step must be a whole number of pixels >= 1, got '0'"},
      {Make(path, 1.0, 1.0, 1.0, 1.5), "step must be"},
      {Make(path, 1.0, 1.0, 1.0, XSI::CValue()), "step must be"},
      {Make(path, 1.0, 1.0, 1.0, 1, L"taken"), "an object named 'taken' already exists"},
      {Make(path, 1.0, 1.0, 1.0, 1, L""), "the object name is empty"},
      {Make(path, 1.0, 1.0, 1.0, 1, L"a,b"), "holds a comma"},
      {Make(path, 1.0, 1.0, 1.0, 1, L" a"), "white space"},
      {Make((dir_.path() / "missing.bmp").string(), 1.0, 1.0, 1.0, 1), "missing.bmp"},
      {Make(dir_.path().string(), 1.0, 1.0, 1.0, 1), dir_.path().string()},
      {Make(RedPicture(dir_, "thin.bmp", 1, 3, {1, 2, 3}), 1.0, 1.0, 1.0, 1), "at least 2 x 2"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(c.status.Succeeded()) << c.expected;
    (void)c;
  }
  EXPECT_EQ(host::Runtime::Get().GetScene().Count(), before);
  EXPECT_EQ(host::Runtime::Get().GetScene().Objects().front()->name, L"taken");
  // Errors name the command and the value: check them one by one in order.
  std::vector<std::string> errors;
  for (const auto& e : host::Runtime::Get().GetJournal().Entries())
    if (e.kind == host::JournalEntry::Log && e.severity == 2) errors.push_back(e.name.GetUtf8String());
  ASSERT_GE(errors.size(), std::size(cases));
  const std::size_t first = errors.size() - std::size(cases);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_NE(errors[first + i].find("CreateHeightField: "), std::string::npos) << errors[first + i];
    EXPECT_NE(errors[first + i].find(cases[i].expected), std::string::npos) << errors[first + i];
  }
}

// One object name rule for every command that makes or renames an object:
// CreateHeightField once took a name holding U+0085 (a C1 control) that
// RaiseTower refused. Each refusal changes nothing and says the same thing.
TEST_F(HeightFieldTest, EveryCommandThatNamesAnObjectRefusesTheSameNames) {
  const std::string path = RedPicture(dir_, "h.bmp", 2, 2, {1, 2, 3, 4});
  const std::string cube = dir_.Write("cube.obj", testutil::kCubeObj);
  ASSERT_EQ(Exec(L"ObjImport", {XSI::CString::FromUtf8(cube)}), XSI::CStatus::OK);
  const std::pair<std::wstring, std::string> names[] = {
      {L"a\u0085b", "holds the control character U+0085"},
      {L"a\u009fb", "holds the control character U+009F"},
      {L"a\u007fb", "holds the control character U+007F"},
      {L"a\u0001b", "holds the control character U+0001"},
      {L"a,b", "holds a comma"},
      {L"a\u00a0", "begins or ends with white space (U+00A0)"},
      {L"\u3000a", "begins or ends with white space (U+3000)"},
      {std::wstring(257, L'n'), "is 257 characters long; the limit is 256"},
  };
  for (const auto& [name, why] : names) {
    const std::string quoted = host::QuoteArg(XSI::CString(name)).GetUtf8String() + " ";
    SCOPED_TRACE(why);
    EXPECT_EQ(Make(path, 1.0, 1.0, 1.0, 1, name.c_str()), XSI::CStatus::InvalidArgument);
    EXPECT_EQ(LastError(), "CreateHeightField: the object name " + quoted + why);
    EXPECT_EQ(Exec(L"SetValue", {L"cube.Name", XSI::CString(name)}), XSI::CStatus::InvalidArgument);
    EXPECT_EQ(LastError(), "cannot rename 'cube': the new name " + quoted + why);
    if (name.size() < 200 && name.find(L'\u0001') == std::wstring::npos) {
      const std::string file = dir_.Write(XSI::CString(name).GetUtf8String() + ".obj", testutil::kCubeObj);
      EXPECT_EQ(Exec(L"ObjImport", {XSI::CString::FromUtf8(file)}), XSI::CStatus::InvalidArgument);
      EXPECT_EQ(LastError(), "ObjImport: the file '" + file + "' would give the object name " + quoted.substr(0, quoted.size() - 1) +
                                 ", which " + why);
    }
    ASSERT_EQ(host::Runtime::Get().GetScene().Count(), 1u);
    EXPECT_EQ(host::Runtime::Get().GetScene().Objects().front()->name, L"cube");
  }
  // Inner white space and other characters are fine everywhere.
  EXPECT_EQ(Make(path, 1.0, 1.0, 1.0, 1, L"my terrain \u00e9"), XSI::CStatus::OK);
  EXPECT_EQ(Exec(L"SetValue", {L"cube.Name", L"my cube"}), XSI::CStatus::OK);
}

TEST_F(HeightFieldTest, TextExtentsAreReadByTheOneNumberGrammar) {
  const std::string path = RedPicture(dir_, "h.bmp", 2, 2, {0, 0, 0, 255});
  for (const wchar_t* bad : {L"0x10", L"2,5", L"1e400", L"nan"}) {
    const std::string shown = "'" + XSI::CString(bad).GetUtf8String() + "'";
    EXPECT_FALSE(Make(path, bad, 1.0, 1.0, 1).Succeeded()) << shown;
    EXPECT_NE(LastError().find("sizeX must be a finite number > 0 and at most 1e30, got " + shown),
              std::string::npos) << LastError();
    EXPECT_FALSE(Make(path, 1.0, 1.0, 1.0, bad).Succeeded()) << shown;
    EXPECT_NE(LastError().find("step must be a whole number of pixels >= 1, got " + shown), std::string::npos)
        << LastError();
  }
  EXPECT_EQ(host::Runtime::Get().GetScene().Count(), 0u);
  ASSERT_TRUE(Make(path, L" 3 ", L"+4", L"2", L"+1").Succeeded()) << LastError();
  const host::Mesh& m = Terrain();
  // X = (c + 0.5 - 1) * 3 / 2, Z = (r + 0.5 - 1) * 4 / 2, Y = red * 2 / 255.
  ExpectVertex(m, 0, -0.75f, 0.0f, -1.0f);
  ExpectVertex(m, 3, 0.75f, 2.0f, 1.0f);
}

TEST_F(HeightFieldTest, AGridOverTheVertexLimitIsRefusedBeforeAnythingIsBuilt) {
  XSI::detail::ImageData big;
  big.Allocate(4096, 4096, 1, 8);
  for (int y = 0; y < 4096; ++y) std::memset(big.MutableRow(y), 0, big.rowBytes);
  host::Mesh mesh;
  std::string error;
  host::HeightFieldSize size{1, 1, 1, 1};
  EXPECT_FALSE(host::BuildHeightField(big, size, mesh, error));
  EXPECT_NE(error.find("use a larger step"), std::string::npos) << error;
  EXPECT_EQ(mesh.VertexCount(), 0u);
  size.step = 3;
  EXPECT_TRUE(host::BuildHeightField(big, size, mesh, error)) << error;
  EXPECT_EQ(mesh.VertexCount(), 1366u * 1366u);  // 0, 3, ..., 4095
}

}  // namespace
