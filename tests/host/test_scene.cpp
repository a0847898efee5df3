// Scene naming, selection, object handles and the journal.
#include <cmath>

#include "host_test_util.h"

using namespace testutil;
using XSI::CRef;
using XSI::CStatus;
using XSI::CValue;

namespace {

class Scene : public HostTest {};

TEST_F(Scene, TakenNamesGetTheLowestFreeNumber) {
  host::Scene& s = host::Runtime::Get().GetScene();
  EXPECT_EQ(s.Create(L"wall").name, L"wall");
  EXPECT_EQ(s.Create(L"wall").name, L"wall1");
  EXPECT_EQ(s.Create(L"wall").name, L"wall2");
  s.Delete(s.Find(L"wall1")->id);
  EXPECT_EQ(s.Create(L"wall").name, L"wall1");
  std::uint64_t id = s.Create(L"door").id;
  EXPECT_EQ(s.Rename(id, L"wall"), L"wall3");
  // Creation order is kept, whatever the names.
  auto objects = s.Objects();
  ASSERT_EQ(objects.size(), 4u);
  EXPECT_EQ(objects[0]->name, L"wall");
  EXPECT_EQ(objects[1]->name, L"wall2");
  EXPECT_EQ(objects[2]->name, L"wall1");
  EXPECT_EQ(objects[3]->name, L"wall3");
}

TEST_F(Scene, HandlesToNothingFailAndChangeNothing) {
  host::Runtime::Get().GetScene().Create(L"keep");
  XSI::Selection sel = XSI::Application().GetSelection();
  sel.Clear();
  XSI::X3DObject nothing(sel[0]);
  EXPECT_FALSE(nothing.IsValid());
  EXPECT_EQ(nothing.GetName(), L"");
  EXPECT_NE(nothing.PutParameterValue(L"name", XSI::CString(L"x")), CStatus::OK);
  EXPECT_NE(nothing.GetKinematics().GetGlobal().PutParameterValue(L"posx", 1.0f), CStatus::OK);
  EXPECT_NE(XSI::Context(CRef()).PutAttribute(L"ReturnValue", true), CStatus::OK);
  EXPECT_TRUE(XSI::Context(CRef()).GetAttribute(L"Arguments").IsEmpty());
  EXPECT_EQ(XSI::ImageClip2(CRef()).GetImage().GetResX(), 0);
  EXPECT_NE(XSI::Command(CRef()).PutDescription(L"x"), CStatus::OK);
  EXPECT_EQ(host::Runtime::Get().GetScene().Find(L"keep")->xf.pos[0], 0.0);
  EXPECT_EQ(host::Runtime::Get().GetScene().Count(), 1u);
}

TEST_F(Scene, DeletedObjectsMakeTheirHandlesInvalid) {
  auto& obj = host::Runtime::Get().GetScene().Create(L"gone");
  XSI::X3DObject handle(CRef(XSI::siRefKind::Object, obj.id));
  EXPECT_TRUE(handle.IsValid());
  host::Runtime::Get().GetScene().Delete(obj.id);
  EXPECT_FALSE(handle.IsValid());
  EXPECT_NE(handle.PutParameterValue(L"posx", 1.0), CStatus::OK);
}

TEST_F(Scene, SelectionSetAsTextKeepsOrderAndSkipsUnknownNames) {
  host::Scene& s = host::Runtime::Get().GetScene();
  s.Create(L"a");
  s.Create(L"b");
  XSI::Selection sel = XSI::Application().GetSelection();
  EXPECT_EQ(sel.SetAsText(L"b, ghost,a"), CStatus::OK);
  ASSERT_EQ(sel.GetCount(), 2);
  EXPECT_EQ(XSI::X3DObject(sel[0]).GetName(), L"b");
  EXPECT_EQ(XSI::X3DObject(sel[1]).GetName(), L"a");
  EXPECT_NE(sel.SetAsText(L"ghost"), CStatus::OK);
  EXPECT_EQ(sel.GetCount(), 0);
}

TEST_F(Scene, KinematicsWriteTheGlobalTransform) {
  auto& obj = host::Runtime::Get().GetScene().Create(L"unit");
  XSI::X3DObject x(CRef(XSI::siRefKind::Object, obj.id));
  XSI::KinematicState g = x.GetKinematics().GetGlobal();
  EXPECT_EQ(g.PutParameterValue(L"posx", -40.5f), CStatus::OK);
  EXPECT_EQ(g.PutParameterValue(L"roty", -270.0), CStatus::OK);
  EXPECT_EQ(obj.xf.pos[0], -40.5);
  EXPECT_EQ(obj.xf.rot[1], -270.0);
  EXPECT_NE(g.PutParameterValue(L"posq", 1.0), CStatus::OK);
  EXPECT_NE(g.PutParameterValue(L"posx", std::nan("")), CStatus::OK);
  EXPECT_EQ(obj.xf.pos[0], -40.5);
  EXPECT_DOUBLE_EQ(g.GetParameterValue(L"posx").GetAsDouble(), -40.5);
  // Renaming through the "name" parameter keeps names unique.
  host::Runtime::Get().GetScene().Create(L"taken");
  EXPECT_EQ(x.PutParameterValue(L"name", XSI::CString(L"taken")), CStatus::OK);
  EXPECT_EQ(x.GetName(), L"taken1");
}

TEST_F(Scene, JournalRecordsCommandsWritesAndLogsInOrder) {
  host::Runtime& rt = host::Runtime::Get();
  auto& obj = rt.GetScene().Create(L"a");
  Exec(L"SetValue", {L"a.posx", 1.5f});
  XSI::X3DObject(CRef(XSI::siRefKind::Object, obj.id)).PutParameterValue(L"posz", 2);
  XSI::Application().LogMessage(L"hello", XSI::siVerboseMsg);
  const auto& e = rt.GetJournal().Entries();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].kind, host::JournalEntry::Command);
  EXPECT_EQ(e[0].name, L"SetValue");
  ASSERT_EQ(e[0].args.size(), 2u);
  EXPECT_EQ(e[0].args[1].GetType(), CValue::siFloat);
  EXPECT_EQ(e[1].kind, host::JournalEntry::ParamWrite);
  EXPECT_EQ(e[2].kind, host::JournalEntry::ParamWrite);
  EXPECT_EQ(e[2].name, L"posz");
  EXPECT_EQ(e[2].value.GetType(), CValue::siInt4);
  EXPECT_EQ(e[3].kind, host::JournalEntry::Log);
  EXPECT_EQ(e[3].severity, 16);
  std::string text = rt.GetJournal().Format();
  EXPECT_NE(text.find("cmd SetValue(\"a.posx\":text, 1.5:float)"), std::string::npos) << text;
  EXPECT_NE(text.find("log[16] hello"), std::string::npos) << text;
}

TEST_F(Scene, InstallationPathIsTheHomeFolder) {
  host::Runtime::Get().SetHomePath("/opt/home");
  EXPECT_EQ(XSI::Application().GetInstallationPath(XSI::siUserPath), L"/opt/home");
  EXPECT_EQ(XSI::Application().GetInstallationPath(1L), L"/opt/home");
  EXPECT_EQ(XSI::Application().GetInstallationPath(99L), L"");
}

}  // namespace
