// Strict OBJ reading: indices that do not fit, non-finite numbers, dropped
// polygons reported as warnings, and where material libraries are looked up.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "obj_reader.h"
#include "temp_dir.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

const std::string kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";

class ObjText : public ::testing::Test {
 protected:
  TempDir dir_;

  // The error of reading `text` as an .obj, after the "cannot read" prefix;
  // checks the target mesh is left alone.
  std::string Error(const std::string& text) {
    const std::string path = dir_.Write("in.obj", text);
    Mesh m;
    m.positions = {{7, 7, 7}};
    std::string error;
    std::vector<std::string> warnings;
    EXPECT_FALSE(ReadObj(path, m, error, &warnings));
    EXPECT_EQ(m.positions.size(), 1u);
    EXPECT_TRUE(warnings.empty());
    const std::string prefix = "cannot read OBJ file '" + path + "': ";
    EXPECT_EQ(error.rfind(prefix, 0), 0u) << error;
    return error.substr(std::min(prefix.size(), error.size()));
  }

  Mesh Read(const std::string& text, std::vector<std::string>* warnings = nullptr,
            const std::string& name = "in.obj") {
    Mesh m;
    std::string error;
    EXPECT_TRUE(ReadObj(dir_.Write(name, text), m, error, warnings)) << error;
    return m;
  }
};

TEST_F(ObjText, IndexThatDoesNotFitIsRefusedNamingTheLine) {
  // 4294967299 used to wrap to vertex 3.
  EXPECT_EQ(Error(kTriangle + "\nf 1 2 4294967299\n"), "line 5: vertex index 4294967299 out of range");
  EXPECT_EQ(Error(kTriangle + "f 1 2 99999999999\n"), "line 4: vertex index 99999999999 out of range");
  EXPECT_EQ(Error(kTriangle + "f 1 2 -99999999999999999999\n"),
            "line 4: vertex index -99999999999999999999 out of range");
  EXPECT_EQ(Error(kTriangle + "f 1 2 4\n"), "line 4: vertex index 4 out of range (the file has 3)");
  EXPECT_EQ(Error(kTriangle + "f 1 2 0\n"), "line 4: vertex index 0 out of range (indices start at 1)");
  EXPECT_EQ(Error(kTriangle + "f 1 2 -4\n"),
            "line 4: vertex index -4 out of range (only 3 before this line)");
  EXPECT_EQ(Error(kTriangle + "vt 0 0\nf 1/1 2/2 3/1\n"),
            "line 5: texture coordinate index 2 out of range (the file has 1)");
  EXPECT_EQ(Error(kTriangle + "vn 0 0 1\nf 1//1 2//1 3//4294967296\n"),
            "line 5: normal index 4294967296 out of range");
  EXPECT_EQ(Error(kTriangle + "f 1 2 3x\n"), "line 4: '3x' is not an index");
  EXPECT_EQ(Error(kTriangle + "f 1 2 3/1/1/1\n"), "line 4: '3/1/1/1' is not a polygon corner");
  EXPECT_EQ(Error(kTriangle + "f 1 2 /1\n"), "line 4: '/1' is not a polygon corner");
}

TEST_F(ObjText, NonFiniteNumbersAreRefusedNamingTheLine) {
  EXPECT_EQ(Error("v nan 0 0\n"), "line 1: coordinate 'nan' is not a finite number");
  EXPECT_EQ(Error("v 0 inf 0\n"), "line 1: coordinate 'inf' is not a finite number");
  EXPECT_EQ(Error("v 0 0 -1e400\n"), "line 1: coordinate '-1e400' is not a finite number");
  EXPECT_EQ(Error("v 0 0 1e39\n"), "line 1: coordinate '1e39' is not a finite number");  // > float
  EXPECT_EQ(Error(kTriangle + "vn 0 0 NaN\n"), "line 4: coordinate 'NaN' is not a finite number");
  EXPECT_EQ(Error(kTriangle + "vt infinity 0\n"),
            "line 4: coordinate 'infinity' is not a finite number");
  EXPECT_EQ(Error("v 0 zero 0\n"), "line 1: 'zero' is not a number");
  EXPECT_EQ(Error("v 0 0\n"), "line 1: expected 3 numbers, found 2");

  // Tiny numbers are finite: they read as zero. Comments end a line.
  const Mesh m = Read("v 1e-400 -5e-999 0.5 # tiny\nv +1 0 0\nv 0 1. 0\nf 1 2 3 # done\n");
  ASSERT_EQ(m.VertexCount(), 3u);
  EXPECT_EQ(m.positions[0].x, 0.0f);
  EXPECT_EQ(m.positions[0].y, 0.0f);
  EXPECT_EQ(m.positions[0].z, 0.5f);
  EXPECT_EQ(m.positions[1].x, 1.0f);
}

TEST_F(ObjText, PolygonsWithFewerThanThreeCornersAreDroppedWithAWarning) {
  std::vector<std::string> warnings;
  const Mesh m = Read(kTriangle + "f 1 2\nf 1 2 3\nf 3\nf\n", &warnings);
  EXPECT_EQ(m.FaceCount(), 1u);
  EXPECT_EQ(m.CornerCount(), 3u);
  const std::string path = dir_.File("in.obj");
  EXPECT_EQ(warnings, (std::vector<std::string>{
                          "OBJ file '" + path + "': line 4: polygon with 2 corners dropped, and 2 "
                          "more with fewer than 3 corners"}));

  EXPECT_EQ(Error(kTriangle + "f 1 2\n"),
            "has no polygons (line 4: polygon with 2 corners dropped)");
}

TEST_F(ObjText, MaterialLibrariesAreFoundNextToTheObjOrByAbsolutePath) {
  fs::create_directories(dir_.Path() / "models" / "mats");
  dir_.Write("models/mats/a.mtl", "newmtl red\nKd 1 0 0\n");
  dir_.Write("models/b c.mtl", "newmtl blue  \nKd 0 0 1\nmap_Kd -s 2 2 2 tex/blue.png\n");
  const std::string faces = kTriangle + "usemtl red\nf 1 2 3\nusemtl blue\nf 3 2 1\n";
  std::vector<std::string> warnings;

  // Relative to the .obj's folder, not the working folder; "\ " is a space.
  Mesh m = Read("mtllib mats/a.mtl b\\ c.mtl\n" + faces, &warnings, "models/m.obj");
  ASSERT_EQ(m.materials.size(), 2u);
  EXPECT_EQ(m.materials[m.faceMaterial[0]].name, "red");
  EXPECT_EQ(m.materials[m.faceMaterial[0]].diffuse.x, 1.0f);
  EXPECT_EQ(m.materials[m.faceMaterial[1]].name, "blue");
  EXPECT_EQ(m.materials[m.faceMaterial[1]].diffuseTexture, "tex/blue.png");
  EXPECT_TRUE(warnings.empty());

  const std::string absolute = (dir_.Path() / "models" / "mats" / "a.mtl").string();
  m = Read("mtllib " + absolute + "\n" + faces, &warnings);
  EXPECT_EQ(m.materials[m.faceMaterial[0]].name, "red");
  EXPECT_EQ(m.materials[m.faceMaterial[1]].name, "default");  // blue is not in a.mtl
  EXPECT_TRUE(warnings.empty());

  // A missing library is not an error, but is no longer silent.
  m = Read("mtllib gone.mtl\n" + faces, &warnings);
  ASSERT_EQ(m.materials.size(), 1u);
  EXPECT_EQ(m.materials[0].name, "default");
  EXPECT_EQ(warnings, (std::vector<std::string>{"OBJ file '" + dir_.File("in.obj") +
                                                "': line 1: material library 'gone.mtl' not "
                                                "found; its materials become 'default'"}));
}

TEST_F(ObjText, TooManyMaterialLibrariesAreRefused) {
  std::string text = "mtllib same.mtl same.mtl\n";  // repeats count once
  for (std::size_t i = 0; i < kMaxMaterialLibraries; ++i) text += "mtllib m" + std::to_string(i) + ".mtl\n";
  EXPECT_EQ(Error(text + kTriangle + "f 1 2 3\n"), "line 17: more than 16 material libraries");
}

}  // namespace
}  // namespace host
