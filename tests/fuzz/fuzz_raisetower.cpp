// fuzz_raisetower: the real RaiseTower plug-in, loaded into the real runtime,
// run with sixteen arguments decoded from the input (ints, reals, bools,
// texts with odd characters, empties), on a scene that may hold user objects
// named like the building's parts, and optionally with one host command made
// to fail. Counts that would build a big tower are folded to small ones so
// every run stays fast.
//
// After each run: a failed run leaves the same objects (names, transforms,
// mesh sizes) and selection, and logs exactly one "RaiseTower: " error; a
// successful one returns true and adds exactly one object, named as the
// building.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plugin_loader.h"
#include "runtime.h"
#include "xsi_plugin.h"
#include "test_hooks.h"

namespace {

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  template <typename T>
  T Raw() {
    T value{};
    std::uint8_t bytes[sizeof(T)] = {};
    for (std::size_t i = 0; i < sizeof(T); ++i) bytes[i] = Byte();
    std::memcpy(&value, bytes, sizeof(T));
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

const wchar_t* const kWords[] = {
    L"brick", L"glass", L"A", L"B", L"C", L"D", L"T", L"Tground", L"inf", L"nan", L"-inf",
    L" X", L"X ", L"..", L"a/b", L"a\\b", L"a,b", L"1e3", L"99999999999", L"2147483647", L"-1",
    L"3.0", L"2.5", L"+2", L" 3 ", L"p1900_", L"newunit", L"polymsh", L"floor1", L"",
};

XSI::CString Text(Reader& in) {
  const std::uint8_t length = in.Byte() % 12;
  std::wstring text;
  for (std::uint8_t i = 0; i < length; ++i) {
    const std::uint8_t b = in.Byte();
    // Mostly letters, sometimes anything from control characters up to
    // surrogates and spaces beyond ASCII.
    if (b < 200) text += static_cast<wchar_t>(L'a' + b % 26);
    else if (b < 230) text += static_cast<wchar_t>(b - 200);
    else text += static_cast<wchar_t>(in.Raw<std::uint16_t>());
  }
  return XSI::CString(text);
}

XSI::CValue Value(Reader& in) {
  switch (in.Byte() % 8) {
    case 0: return XSI::CValue();
    case 1: return XSI::CValue(static_cast<int>(in.Byte() % 8) - 1);
    case 2: return XSI::CValue(in.Raw<int>());
    case 3: return XSI::CValue(in.Raw<double>());
    case 4: return XSI::CValue(in.Raw<float>());
    case 5: return XSI::CValue((in.Byte() & 1) != 0);
    case 6: return XSI::CValue(kWords[in.Byte() % (sizeof(kWords) / sizeof(kWords[0]))]);
    default: return Text(in);
  }
}

// Counts that could build more than a few storeys of a few units become
// small; far bigger ones stay, as the plug-in refuses them at once.
XSI::CValue FoldCount(const XSI::CValue& value) {
  const double d = value.GetAsDouble();
  if (!std::isfinite(d) || std::fabs(d) <= 5 || std::fabs(d) > 1e7) return value;
  return XSI::CValue(1 + static_cast<int>(std::fmod(std::fabs(d), 5.0)));
}

const wchar_t* const kCommands[] = {L"ObjImport", L"Duplicate", L"ApplyGenOp", L"SetValue",
                                    L"DeleteGeneratorInputs", L"MoveCtr2Vertices", L"Translate",
                                    L"DeleteObj"};

// A user object: the smallest unit of the kit, renamed.
void AddUserObject(const XSI::CString& name) {
  XSI::CValueArray args;
  XSI::CValue out;
  args.Add(XSI::CString::FromUtf8(XSI_SOURCE_DIR "/home/builder/objs/p1900_roofbrick.obj"));
  if (!XSI::Application().ExecuteCommand(L"ObjImport", args, out).Succeeded()) std::abort();
  XSI::X3DObject(out.GetAsRef()).PutParameterValue(L"name", XSI::CValue(name));
}

struct Snapshot {
  std::vector<std::string> objects;
  std::string selection;
  bool operator==(const Snapshot& o) const { return objects == o.objects && selection == o.selection; }
};

Snapshot Take() {
  Snapshot s;
  for (host::SceneObject* o : host::Runtime::Get().GetScene().Objects()) {
    std::string line = o->name.GetUtf8String();
    for (double v : o->xf.pos) line += " " + std::to_string(v);
    std::shared_ptr<const host::Mesh> m = o->geometry.Snapshot();
    if (m) line += " f" + std::to_string(m->FaceCount()) + " v" + std::to_string(m->VertexCount());
    s.objects.push_back(line);
  }
  s.selection = XSI::Application().GetSelection().GetAsText().GetUtf8String();
  return s;
}

[[noreturn]] void Broken(const char* what, const XSI::CValueArray& args) {
  std::fprintf(stderr, "fuzz_raisetower: %s; arguments:", what);
  for (long i = 0; i < args.GetCount(); ++i)
    std::fprintf(stderr, " [%s:%s]", XSI::CString(args[i].GetTypeName()).GetUtf8String().c_str(),
                 args[i].GetAsText().GetUtf8String().c_str());
  std::fprintf(stderr, "\n%s\n", host::Runtime::Get().GetJournal().Format().c_str());
  std::abort();
}

host::Runtime& Setup() {
  static host::Runtime& runtime = [] () -> host::Runtime& {
    host::Runtime& rt = host::Runtime::Get();
    rt.SetHomePath(XSI_SOURCE_DIR "/home");
    // Kept for the whole process: unloading at exit is the loader's business.
    static auto* plugins = new host::PluginManager(rt);
    if (!plugins->Load(XSI_BINARY_DIR "/plugins/RaiseTower.so").Succeeded()) std::abort();
    return rt;
  }();
  return runtime;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  host::Runtime& rt = Setup();
  rt.ResetScene();
  Reader in(data, size);

  XSI::CValueArray args;
  for (int i = 0; i < 16; ++i) args.Add(Value(in));
  for (int i = 1; i <= 3; ++i) args[i] = FoldCount(args[i]);

  // Up to two user objects named like parts of the building, one selected.
  const XSI::CString building = args[0].GetAsText();
  const wchar_t* const kSuffixes[] = {L"", L"ground", L"roof", L"floor1", L"floor2", L"x"};
  const std::uint8_t users = in.Byte();
  for (int i = 0; i < (users & 3) % 3; ++i) {
    XSI::CString name = building + kSuffixes[in.Byte() % 6];
    AddUserObject(name.IsEmpty() ? XSI::CString(L"user") : name);
  }
  if (users & 4) XSI::Application().GetSelection().Clear();

  const std::uint8_t fault = in.Byte();
  if (fault >= 128) host::test_hooks::InjectFailure(kCommands[fault % 8], 1 + in.Byte() % 64);
  std::srand(1);

  const Snapshot before = Take();
  rt.GetJournal().Clear();
  XSI::CValue out;
  const XSI::CStatus status = XSI::Application().ExecuteCommand(L"RaiseTower", args, out);
  host::test_hooks::InjectFailure(L"", 0);

  int ownErrors = 0;
  for (const host::JournalEntry& e : rt.GetJournal().Entries()) {
    if (e.kind != host::JournalEntry::Log || e.severity != 2) continue;
    const std::string text = e.name.GetUtf8String();
    if (text.rfind("RaiseTower: ", 0) == 0) ++ownErrors;
    if (text.rfind("HouseSmith: ", 0) == 0) Broken("an exception reached the entry point", args);
  }
  if (!status.Succeeded()) {
    if (!out.IsEmpty()) Broken("a failed run returned a value", args);
    if (ownErrors != 1) Broken("a failed run did not log exactly one error", args);
    if (!(Take() == before)) Broken("a failed run changed the scene", args);
    return 0;
  }
  if (!out.GetAsBool()) Broken("a successful run did not return true", args);
  if (ownErrors != 0) Broken("a successful run logged an error", args);
  std::vector<std::string> names;
  for (host::SceneObject* o : rt.GetScene().Objects()) names.push_back(o->name.GetUtf8String());
  if (names.size() != before.objects.size() + 1 || names.back() != building.GetUtf8String())
    Broken("a successful run did not add exactly one object named as the building", args);
  Snapshot after = Take();
  after.objects.pop_back();
  if (after.objects != before.objects) Broken("a successful run changed the user's objects", args);
  return 0;
}
