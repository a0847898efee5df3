// Commands refuse what would damage the scene or a file: non-finite
// results, paths holding NUL; image clips live with the scene; objects are
// found by name through the SDK; the failure-injection hook.
#include <fcntl.h>
#include <sys/stat.h>

#include <cfloat>
#include <cmath>

#include "host_test_util.h"
#include "xsi_image.h"
#include "test_hooks.h"

using namespace testutil;
using XSI::CStatus;
using XSI::CString;
using XSI::CValue;

namespace {

class Hygiene : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    cube_ = dir_.Write("cube.obj", kCubeObj);
    ASSERT_EQ(Exec(L"ObjImport", {CString::FromUtf8(cube_)}), CStatus::OK);
  }
  std::string cube_;
};

TEST_F(Hygiene, TranslateThatWouldOverflowFailsAndChangesNothing) {
  // Saved coordinates are floats: 1e308 is a double, but not a coordinate.
  EXPECT_EQ(Exec(L"Translate", {L"cube", 1e308, 0.0, 0.0, 1}), CStatus::InvalidArgument);
  ASSERT_EQ(Exec(L"Translate", {L"cube", 3e38, 0.0, 0.0, 1}), CStatus::OK);
  EXPECT_EQ(Exec(L"Translate", {L"cube", 3e38, 0.0, 0.0, 1}), CStatus::InvalidArgument);
  EXPECT_EQ(Find(L"cube")->xf.pos[0], 3e38);
  EXPECT_NE(LastError().find("'cube'"), std::string::npos) << LastError();
  EXPECT_NE(LastError().find("not be finite"), std::string::npos) << LastError();
}

TEST_F(Hygiene, PositionBeyondFloatRangeIsRefused) {
  ASSERT_EQ(Exec(L"SetValue", {L"cube.posx", 1e10}), CStatus::OK);
  EXPECT_EQ(Exec(L"SetValue", {L"cube.posx", 1e300}), CStatus::InvalidArgument);
  EXPECT_EQ(Find(L"cube")->xf.pos[0], 1e10);
}

TEST_F(Hygiene, ScaleThatWouldOverflowFailsAndTheSaveStaysFinite) {
  EXPECT_EQ(Exec(L"SetValue", {L"cube.sclx", 1e39}), CStatus::InvalidArgument);
  EXPECT_EQ(Find(L"cube")->xf.scl[0], 1.0);
  EXPECT_NE(LastError().find("cube.sclx"), std::string::npos) << LastError();
  const std::string path = dir_.File("s.obj");
  ASSERT_EQ(Exec(L"SaveScene", {CString::FromUtf8(path)}), CStatus::OK);
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.find("inf"), std::string::npos);
  EXPECT_EQ(text.find("nan"), std::string::npos);
}

TEST_F(Hygiene, KinematicsThroughTheSdkAreCheckedToo) {
  XSI::X3DObject obj = XSI::Application().GetActiveSceneRoot().FindChild(L"cube");
  ASSERT_TRUE(obj.IsValid());
  auto global = obj.GetKinematics().GetGlobal();
  EXPECT_NE(global.PutParameterValue(L"scly", 1e39), CStatus::OK);
  EXPECT_EQ(global.GetParameterValue(L"scly").GetAsDouble(), 1.0);
}

TEST_F(Hygiene, PathsHoldingNulAreRefused) {
  const std::string target = dir_.File("x.obj");
  CString withNul(std::wstring(L"x.obj") + L'\0' + L".glb");
  const CString savePath = CString::FromUtf8(dir_.Path().string() + "/") + withNul;
  EXPECT_EQ(Exec(L"SaveScene", {savePath}), CStatus::InvalidArgument);
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_NE(LastError().find("NUL"), std::string::npos) << LastError();

  const CString importPath = CString::FromUtf8(cube_) + CString(std::wstring(1, L'\0') + L"junk");
  EXPECT_EQ(Exec(L"ObjImport", {importPath}), CStatus::InvalidArgument);
  EXPECT_EQ(host::Runtime::Get().GetScene().Count(), 1u);
  EXPECT_EQ(Exec(L"CreateImageClip", {importPath}), CStatus::InvalidArgument);
}

TEST_F(Hygiene, LongNamesAreCutInErrors) {
  const std::wstring name(100000, L'x');
  EXPECT_EQ(Exec(L"Duplicate", {CString(name)}), CStatus::NotFound);
  const std::string error = LastError();
  EXPECT_LT(error.size(), 300u) << error.size();
  EXPECT_NE(error.find("(99800 more characters)"), std::string::npos) << error;
}

TEST_F(Hygiene, SceneRootFindsObjectsByExactName) {
  XSI::X3DObject root = XSI::Application().GetActiveSceneRoot();
  XSI::X3DObject cube = root.FindChild(L"cube");
  ASSERT_TRUE(cube.IsValid());
  EXPECT_EQ(cube.GetName(), L"cube");
  EXPECT_FALSE(root.FindChild(L"Cube").IsValid());
  EXPECT_FALSE(root.FindChild(L"").IsValid());
  EXPECT_FALSE(cube.FindChild(L"cube").IsValid());
}

class Clips : public HostTest {
 protected:
  // A 2x1 24-bit BMP, written by hand so the test needs no image library.
  std::string WriteBmp(const std::string& name, unsigned char red) {
    std::string b = {'B', 'M'};
    auto u32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) b += char((v >> (8 * i)) & 0xff); };
    auto u16 = [&](std::uint16_t v) { b += char(v & 0xff); b += char(v >> 8); };
    u32(62); u32(0); u32(54);
    u32(40); u32(2); u32(1); u16(1); u16(24); u32(0); u32(8); u32(2835); u32(2835); u32(0); u32(0);
    for (int i = 0; i < 2; ++i) { b += char(0); b += char(0); b += char(red); }
    b += std::string(2, '\0');
    return dir_.Write(name, b);
  }
  static XSI::Image ImageOf(const CValue& clipRef) {
    return XSI::ImageClip2(XSI::CRef(clipRef)).GetImage();
  }
};

TEST_F(Clips, NewSceneAndDeleteImageClipFreeClips) {
  const CString path = CString::FromUtf8(WriteBmp("red.bmp", 255));
  CValue first, second;
  ASSERT_EQ(Exec(L"CreateImageClip", {path}, &first), CStatus::OK);
  ASSERT_EQ(Exec(L"CreateImageClip", {path, L"other"}, &second), CStatus::OK);
  EXPECT_EQ(host::Runtime::Get().Clips().size(), 2u);

  EXPECT_EQ(Exec(L"DeleteImageClip", {L"other"}), CStatus::OK);
  EXPECT_FALSE(XSI::ImageClip2(XSI::CRef(second)).IsValid());
  EXPECT_TRUE(XSI::ImageClip2(XSI::CRef(first)).IsValid());
  EXPECT_EQ(Exec(L"DeleteImageClip", {L"other"}), CStatus::NotFound);
  EXPECT_NE(LastError().find("'other'"), std::string::npos) << LastError();

  ASSERT_EQ(Exec(L"NewScene", {}), CStatus::OK);
  EXPECT_TRUE(host::Runtime::Get().Clips().empty());
  EXPECT_FALSE(XSI::ImageClip2(XSI::CRef(first)).IsValid());
}

TEST_F(Clips, AnImageTakenFromAClipOutlivesTheClip) {
  CValue clip;
  ASSERT_EQ(Exec(L"CreateImageClip", {CString::FromUtf8(WriteBmp("red.bmp", 255))}, &clip), CStatus::OK);
  XSI::Image image = ImageOf(clip);
  ASSERT_EQ(Exec(L"NewScene", {}), CStatus::OK);
  XSI::CColor c;
  ASSERT_EQ(image.GetPixelValue(1, 0, c), CStatus::OK);
  EXPECT_DOUBLE_EQ(c.r, 1.0);
}

TEST_F(Clips, LoadingAnUnchangedFileAgainReusesItsClipAndAChangedOneIsReread) {
  const std::string file = WriteBmp("map.bmp", 255);
  CValue a, b, other, c;
  ASSERT_EQ(Exec(L"CreateImageClip", {CString::FromUtf8(file)}, &a), CStatus::OK);
  ASSERT_EQ(Exec(L"CreateImageClip", {CString::FromUtf8(file)}, &b), CStatus::OK);
  EXPECT_EQ(XSI::CRef(a), XSI::CRef(b));
  ASSERT_EQ(Exec(L"CreateImageClip", {CString::FromUtf8(file), L"other"}, &other), CStatus::OK);
  auto clips = host::Runtime::Get().Clips();
  ASSERT_EQ(clips.size(), 2u);
  EXPECT_EQ(clips[0]->image, clips[1]->image);  // another name: a clip of its own, same pixels

  // Rewritten with another colour (and, to be sure, another time stamp).
  WriteBmp("map.bmp", 0);
  struct timespec times[2] = {{1, 0}, {1, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  ASSERT_EQ(Exec(L"CreateImageClip", {CString::FromUtf8(file)}, &c), CStatus::OK);
  EXPECT_NE(XSI::CRef(c), XSI::CRef(a));
  XSI::CColor px;
  ASSERT_EQ(ImageOf(c).GetPixelValue(0, 0, px), CStatus::OK);
  EXPECT_DOUBLE_EQ(px.r, 0.0);
  ASSERT_EQ(ImageOf(a).GetPixelValue(0, 0, px), CStatus::OK);
  EXPECT_DOUBLE_EQ(px.r, 1.0);  // the old clip keeps what it read
}

TEST(FailureInjection, FailsTheNthRunOfOneCommandOnly) {
  host::Runtime& rt = host::Runtime::Get();
  rt.ResetScene();
  testsupport::TempDir dir;
  const CString cube = CString::FromUtf8(dir.Write("cube.obj", kCubeObj));
  host::test_hooks::InjectFailure(L"ObjImport", 2);
  EXPECT_EQ(Exec(L"ObjImport", {cube}), CStatus::OK);
  EXPECT_EQ(Exec(L"Duplicate", {L"cube"}), CStatus::OK);
  EXPECT_EQ(Exec(L"ObjImport", {cube}), CStatus::Fail);
  EXPECT_NE(LastError().find("injected failure"), std::string::npos);
  EXPECT_EQ(rt.GetScene().Count(), 2u);
  EXPECT_EQ(Exec(L"ObjImport", {cube}), CStatus::OK);  // once only
  rt.ResetScene();
}

}  // namespace
