// PluginManager against the real runtime and real shared libraries.
#include <gtest/gtest.h>

#include <elf.h>
#include <link.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <xsi_application.h>
#include <xsi_version.h>

#include "elf_check.h"
#include "plugin_loader.h"
#include "runtime.h"
#include "temp_dir.h"

namespace fs = std::filesystem;
using host::PluginManager;
using host::Runtime;
using XSI::CString;
using XSI::CValue;
using XSI::CValueArray;

namespace {

std::string TestPlugin(const std::string& name) {
  return std::string(XSI_BINARY_DIR) + "/test_plugins/" + name + ".so";
}

// Every log line while alive.
class LogCapture {
 public:
  LogCapture() {
    handle_ = Runtime::Get().AddLogSink([this](const CString& text, int severity) {
      lines_.emplace_back(text.GetUtf8String(), severity);
    });
  }
  ~LogCapture() { Runtime::Get().RemoveLogSink(handle_); }

  int Count(const std::string& part, int severity = 0) const {
    int n = 0;
    for (const auto& [text, sev] : lines_) {
      if (text.find(part) != std::string::npos && (severity == 0 || sev == severity)) ++n;
    }
    return n;
  }
  std::string All() const {
    std::string all;
    for (const auto& [text, sev] : lines_) all += "[" + std::to_string(sev) + "] " + text + "\n";
    return all;
  }

 private:
  int handle_ = 0;
  std::vector<std::pair<std::string, int>> lines_;
};

CValueArray Args(std::initializer_list<CValue> values) {
  CValueArray a;
  for (const CValue& v : values) a.Add(v);
  return a;
}

std::string Echo(const CValueArray& args, XSI::CStatus* status = nullptr) {
  CValue out;
  XSI::CStatus st = Runtime::Get().Execute(L"echo", args, out);
  if (status) *status = st;
  return out.GetAsText().GetUtf8String();
}

using testsupport::TempDir;

constexpr int kError = XSI::siErrorMsg;
constexpr int kVerbose = XSI::siVerboseMsg;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Where the last loadable segment of a built plug-in ends: truncating below
// it cuts into what dlopen maps.
std::uint64_t LoadedBytes(const std::string& image) {
  ElfW(Ehdr) header;
  std::memcpy(&header, image.data(), sizeof header);
  std::uint64_t end = 0;
  for (int i = 0; i < header.e_phnum; ++i) {
    ElfW(Phdr) segment;
    std::memcpy(&segment, image.data() + header.e_phoff + i * sizeof segment, sizeof segment);
    if (segment.p_type == PT_LOAD)
      end = std::max<std::uint64_t>(end, segment.p_offset + segment.p_filesz);
  }
  return end;
}

// Loading `path` fails, with exactly one error naming it and the reason.
void ExpectRefused(PluginManager& pm, const LogCapture& log, const std::string& path,
                   const std::string& reason) {
  EXPECT_FALSE(pm.Load(path).Succeeded()) << path;
  EXPECT_EQ(log.Count("cannot load plug-in '" + path + "': " + reason, kError), 1) << log.All();
}

}  // namespace

TEST(PluginLoader, RegistersCommandsUnderThePluginsOwnName) {
  PluginManager pm(Runtime::Get());
  ASSERT_TRUE(pm.Load(TestPlugin("echo_plugin")).Succeeded());
  const host::CommandDef* echo = Runtime::Get().FindCommand(L"echo");
  ASSERT_NE(echo, nullptr);
  EXPECT_EQ(echo->owner.GetUtf8String(), "EchoPlugin");
  ASSERT_NE(Runtime::Get().FindCommand(L"quietfail"), nullptr);
  EXPECT_EQ(pm.LoadedPaths(), std::vector<std::string>{TestPlugin("echo_plugin")});
}

TEST(PluginLoader, InitRunsOnceBeforeTheFirstExecute) {
  LogCapture log;
  PluginManager pm(Runtime::Get());
  ASSERT_TRUE(pm.Load(TestPlugin("echo_plugin")).Succeeded());
  EXPECT_EQ(log.Count("echo_Init call"), 0) << "Init runs before the first run, not at load";
  Echo(Args({1}));
  Echo(Args({2}));
  EXPECT_EQ(log.Count("echo_Init call 1", kVerbose), 1) << log.All();
  EXPECT_EQ(log.Count("echo_Init call 2"), 0) << log.All();
  EXPECT_EQ(log.Count("echo_Execute after 1 init call(s)", kVerbose), kError) << log.All();

  const host::CommandDef* echo = Runtime::Get().FindCommand(L"echo");
  ASSERT_NE(echo, nullptr);
  ASSERT_EQ(echo->arguments.size(), 3u);
  EXPECT_EQ(echo->arguments[0].name.GetUtf8String(), "first");
  EXPECT_EQ(echo->arguments[2].name.GetUtf8String(), "third");
  EXPECT_TRUE(echo->returnsValue);
  EXPECT_EQ(echo->description.GetUtf8String(), "Returns its arguments as kind:value|...");
}

TEST(PluginLoader, DefineAllRunsPendingInitsWithoutRunning) {
  LogCapture log;
  PluginManager pm(Runtime::Get());
  ASSERT_TRUE(pm.Load(TestPlugin("echo_plugin")).Succeeded());
  EXPECT_TRUE(pm.DefineAll().Succeeded());
  EXPECT_EQ(Runtime::Get().FindCommand(L"echo")->arguments.size(), 3u);
  EXPECT_EQ(log.Count("echo_Execute"), 0);
  Echo(Args({}));
  EXPECT_EQ(log.Count("echo_Init call"), 1) << "a later run does not define the command again";
}

TEST(PluginLoader, ArgumentsArriveByPositionWithDefaultsFilledIn) {
  PluginManager pm(Runtime::Get());
  ASSERT_TRUE(pm.Load(TestPlugin("echo_plugin")).Succeeded());
  EXPECT_EQ(Echo(Args({})), "empty:|int:7|text:dflt");
  EXPECT_EQ(Echo(Args({CValue(L"a")})), "text:a|int:7|text:dflt");
  EXPECT_EQ(Echo(Args({CValue(L"a"), CValue(2.5), CValue(true)})), "text:a|double:2.5|bool:true");
}

TEST(PluginLoader, TooManyArgumentsFailWithoutRunning) {
  LogCapture log;
  PluginManager pm(Runtime::Get());
  ASSERT_TRUE(pm.Load(TestPlugin("echo_plugin")).Succeeded());
  XSI::CStatus st;
  EXPECT_EQ(Echo(Args({1, 2, 3, 4}), &st), "");
  EXPECT_FALSE(st.Succeeded());
  EXPECT_EQ(log.Count("echo: too many arguments: got 4, takes 3", kError), 1) << log.All();
  EXPECT_EQ(log.Count("echo_Execute"), 0);
}

TEST(PluginLoader, UnloadAllCallsUnloadAndUnregisters) {
  LogCapture log;
  PluginManager pm(Runtime::Get());
  ASSERT_TRUE(pm.Load(TestPlugin("echo_plugin")).Succeeded());
  ASSERT_TRUE(pm.Load(TestPlugin("throwing_plugin")).Succeeded());
  pm.UnloadAll();
  EXPECT_EQ(Runtime::Get().FindCommand(L"echo"), nullptr);
  EXPECT_EQ(Runtime::Get().FindCommand(L"explode"), nullptr);
  EXPECT_TRUE(pm.LoadedPaths().empty());
  EXPECT_EQ(log.Count("EchoPlugin has been unloaded.", kVerbose), 1) << log.All();
  // Reverse load order.
  const std::string all = log.All();
  EXPECT_LT(all.find("Thrower has been unloaded."), all.find("EchoPlugin has been unloaded."));
  // And it can be loaded again afterwards.
  EXPECT_TRUE(pm.Load(TestPlugin("echo_plugin")).Succeeded());
}

TEST(PluginLoader, MissingCommandExportRejectsThePluginWhole) {
  LogCapture log;
  PluginManager pm(Runtime::Get());
  EXPECT_FALSE(pm.Load(TestPlugin("no_execute_plugin")).Succeeded());
  EXPECT_EQ(Runtime::Get().FindCommand(L"halfdone"), nullptr);
  EXPECT_TRUE(pm.LoadedPaths().empty());
  EXPECT_EQ(log.Count("no_execute_plugin.so", kError), 1) << log.All();
  EXPECT_EQ(log.Count("does not export halfdone_Execute", kError), 1) << log.All();
  // Its load ran, so it is told about the unload.
  EXPECT_EQ(log.Count("HalfDone has been unloaded.", kVerbose), 1) << log.All();
}

// Only XSILoadPlugin and each command's _Execute are required.
TEST(PluginLoader, UnloadAndInitAreOptional) {
  LogCapture log;
  {
    PluginManager pm(Runtime::Get());
    ASSERT_TRUE(pm.Load(TestPlugin("no_unload_plugin")).Succeeded()) << log.All();
    CValue out;
    EXPECT_TRUE(Runtime::Get().Execute(L"orphan", CValueArray(), out).Succeeded());
    EXPECT_EQ(out.GetAsText().GetUtf8String(), "orphaned");
    // Without _Init the command declares no arguments.
    EXPECT_TRUE(pm.DefineAll().Succeeded());
    EXPECT_TRUE(Runtime::Get().Execute(L"bare", CValueArray(), out).Succeeded());
    EXPECT_EQ(out.GetAsText().GetUtf8String(), "bare with 0");
    EXPECT_FALSE(Runtime::Get().Execute(L"bare", Args({CValue(1)}), out).Succeeded());
    EXPECT_EQ(log.Count("bare: too many arguments: got 1, takes 0", kError), 1) << log.All();
  }
  EXPECT_EQ(Runtime::Get().FindCommand(L"bare"), nullptr) << "unloaded without XSIUnloadPlugin";
  EXPECT_EQ(log.Count("", kError), 1) << log.All();
}

// A plug-in built against another SDK is refused before any of its code
// runs, naming both versions and the file; the others still load.
TEST(PluginLoader, PluginsForAnotherSdkVersionAreRefused) {
  const std::string host =
      std::to_string(XSI_SDK_VERSION_MAJOR) + "." + std::to_string(XSI_SDK_VERSION_MINOR);
  ASSERT_EQ(XSI_SDK_VERSION_MAJOR, 2) << "the test plug-ins claim versions around SDK 2.x";
  TempDir dir;
  for (const char* name : {"sdk_3_0_plugin", "sdk_1_0_plugin", "sdk_2_99_plugin", "sdk_short_plugin",
                           "unversioned_plugin", "versioned_plugin", "echo_plugin"}) {
    fs::copy_file(TestPlugin(name), dir.File(std::string(name) + ".so"));
  }
  LogCapture log;
  PluginManager pm(Runtime::Get());
  EXPECT_EQ(pm.LoadDirectory(dir.Path().string()), 2) << log.All();
  const std::string prefix = "cannot load plug-in '" + dir.File("");
  EXPECT_EQ(log.Count(prefix + "sdk_3_0_plugin.so': it was built against SDK 3.0 and this host "
                               "has SDK " + host + ": the major versions differ; rebuild it against SDK " + host,
                      kError),
            1)
      << log.All();
  EXPECT_EQ(log.Count(prefix + "sdk_1_0_plugin.so': it was built against SDK 1.0 and this host "
                               "has SDK " + host + ": the major versions differ",
                      kError),
            1)
      << log.All();
  EXPECT_EQ(log.Count(prefix + "sdk_2_99_plugin.so': it was built against SDK 2.99, newer than "
                               "this host's SDK " + host + "; use a newer scenehost or rebuild it against "
                               "SDK " + host,
                      kError),
            1)
      << log.All();
  EXPECT_EQ(log.Count(prefix + "unversioned_plugin.so': it was built without a versioned SDK (no "
                               "XSIPluginSDKVersion export); rebuild it against SDK " + host,
                      kError),
            1)
      << log.All();
  EXPECT_EQ(log.Count(prefix + "sdk_short_plugin.so': its XSIPluginSDKVersion export is not two "
                               "unsigned ints",
                      kError),
            1)
      << log.All();
  EXPECT_EQ(log.Count("", kError), 5) << log.All();
  // Only the plug-in built for this SDK was called.
  EXPECT_EQ(log.Count("Versioned XSILoadPlugin called"), 1) << log.All();
  EXPECT_EQ(log.Count("Unversioned XSILoadPlugin called"), 0) << log.All();
  EXPECT_EQ(Runtime::Get().FindCommand(L"unversioned"), nullptr);
  CValue out;
  EXPECT_TRUE(Runtime::Get().Execute(L"versioned", CValueArray(), out).Succeeded());
  EXPECT_EQ(Echo(Args({CValue(L"a")})), "text:a|int:7|text:dflt");
}

TEST(PluginLoader, NonLibraryFileIsRefusedNamingIt) {
  TempDir dir;
  dir.Write("x.so", "not a shared library\n");
  LogCapture log;
  PluginManager pm(Runtime::Get());
  ExpectRefused(pm, log, dir.File("x.so"), "not a shared library (no ELF header)");
  ExpectRefused(pm, log, dir.File("missing.so"), "no such file");
}

// A library cut short used to fault inside dlopen (SIGBUS) and end the run.
TEST(PluginLoader, TruncatedLibraryIsRefusedNamingWhatIsMissing) {
  TempDir dir;
  const std::string image = ReadBytes(TestPlugin("echo_plugin"));
  const std::uint64_t loaded = LoadedBytes(image);
  ASSERT_GT(loaded, 4096u);
  struct Cut {
    std::uint64_t size;
    std::string why;
  };
  const Cut cuts[] = {
      {0, "not a shared library (no ELF header)"},
      {10, "truncated: the ELF identification ends at byte 16 of 10"},
      {40, "truncated: the ELF header ends at byte 64 of 40"},
      {100, "truncated: the program header table ends at byte"},
      {4000, "truncated: segment "},
      {loaded / 2, "truncated: segment "},
      {loaded - 1, "truncated: segment "},
  };
  LogCapture log;
  PluginManager pm(Runtime::Get());
  for (const Cut& cut : cuts) {
    const std::string path =
        dir.Write("cut" + std::to_string(cut.size) + ".so", image.substr(0, cut.size));
    EXPECT_FALSE(pm.Load(path).Succeeded()) << cut.size;
    EXPECT_EQ(log.Count("cannot load plug-in '" + path + "': " + cut.why, kError), 1)
        << cut.size << "\n"
        << log.All();
  }
  EXPECT_EQ(
      log.Count("ends at byte " + std::to_string(loaded) + " of " + std::to_string(loaded - 1)), 1)
      << log.All();
  // The section headers follow the loaded segments: without them the SDK
  // version cannot be read before the plug-in runs.
  const std::string whole = dir.Write("whole.so", image.substr(0, loaded));
  ExpectRefused(pm, log, whole, "truncated: the section header table ends at byte ");
  EXPECT_TRUE(pm.LoadedPaths().empty());
}

TEST(PluginLoader, ForeignElfFilesAreRefusedBeforeOpening) {
  TempDir dir;
  const std::string image = ReadBytes(TestPlugin("echo_plugin"));
  auto patched = [&](const std::string& name, std::size_t at, const void* bytes, std::size_t n) {
    std::string copy = image;
    copy.replace(at, n, static_cast<const char*>(bytes), n);
    return dir.Write(name, copy);
  };
  const unsigned char class32 = ELFCLASS32, bigEndian = ELFDATA2MSB;
  ElfW(Ehdr) header;
  std::memcpy(&header, image.data(), sizeof header);
  const ElfW(Half) otherMachine = header.e_machine == EM_AARCH64 ? EM_X86_64 : EM_AARCH64;
  const ElfW(Half) executable = ET_EXEC;
  const ElfW(Half) oddEntrySize = 40;
  struct Case {
    std::string path, why;
  };
  const Case cases[] = {
      {patched("class32.so", EI_CLASS, &class32, 1),
       "wrong class: a 32-bit ELF file; this host loads 64-bit ones"},
      {patched("bigendian.so", EI_DATA, &bigEndian, 1), "wrong byte order for this host"},
      {patched("machine.so", offsetof(ElfW(Ehdr), e_machine), &otherMachine, sizeof otherMachine),
       "built for another machine: ELF machine " + std::to_string(otherMachine)},
      {patched("exec.so", offsetof(ElfW(Ehdr), e_type), &executable, sizeof executable),
       "not a shared object: it is an executable (ELF type 2)"},
      {patched("phent.so", offsetof(ElfW(Ehdr), e_phentsize), &oddEntrySize, sizeof oddEntrySize),
       "bad program header size 40"},
  };
  LogCapture log;
  PluginManager pm(Runtime::Get());
  for (const Case& c : cases) {
    EXPECT_FALSE(pm.Load(c.path).Succeeded()) << c.path;
    EXPECT_EQ(log.Count("cannot load plug-in '" + c.path + "': " + c.why, kError), 1) << log.All();
  }
  EXPECT_TRUE(pm.LoadedPaths().empty());
}

// A FIFO used to block dlopen for ever; a folder or a device is no library.
TEST(PluginLoader, NonRegularFilesAreRefusedWithoutBlocking) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo.so").c_str(), 0600), 0);
  fs::create_directory(dir.File("folder.so"));
  LogCapture log;
  PluginManager pm(Runtime::Get());
  ExpectRefused(pm, log, dir.File("fifo.so"), "it is a FIFO, not a regular file");
  EXPECT_FALSE(pm.Load(dir.File("folder.so")).Succeeded());
  EXPECT_EQ(
      log.Count("'" + dir.File("folder.so") + "': it is a folder, not a regular file", kError), 1)
      << log.All();
  EXPECT_FALSE(pm.Load("/dev/null").Succeeded());
  EXPECT_EQ(log.Count("'/dev/null': it is a character device, not a regular file", kError), 1)
      << log.All();
  EXPECT_TRUE(pm.LoadedPaths().empty());
}

TEST(PluginLoader, TakenCommandNameRejectsTheLaterPlugin) {
  LogCapture log;
  PluginManager pm(Runtime::Get());
  ASSERT_TRUE(pm.Load(TestPlugin("echo_plugin")).Succeeded());
  EXPECT_FALSE(pm.Load(TestPlugin("echo_twin")).Succeeded());
  EXPECT_EQ(log.Count("EchoTwin", kError), 1) << log.All();
  EXPECT_EQ(log.Count("'echo': the name is already taken by 'EchoPlugin'", kError), 1) << log.All();
  EXPECT_EQ(Runtime::Get().FindCommand(L"echo")->owner.GetUtf8String(), "EchoPlugin");
  EXPECT_EQ(Echo(Args({1})), "int:1|int:7|text:dflt");
  EXPECT_EQ(pm.LoadedPaths().size(), 1u);
}

TEST(PluginLoader, SameLibraryTwiceIsRefused) {
  LogCapture log;
  PluginManager pm(Runtime::Get());
  ASSERT_TRUE(pm.Load(TestPlugin("echo_plugin")).Succeeded());
  EXPECT_FALSE(pm.Load(TestPlugin("echo_plugin")).Succeeded());
  EXPECT_EQ(log.Count("is already loaded", kError), 1) << log.All();
  EXPECT_EQ(pm.LoadedPaths().size(), 1u);
}

TEST(PluginLoader, ExceptionInExecuteIsCaughtAndNamed) {
  LogCapture log;
  PluginManager pm(Runtime::Get());
  ASSERT_TRUE(pm.Load(TestPlugin("throwing_plugin")).Succeeded());
  CValue out;
  XSI::CStatus st = Runtime::Get().Execute(L"explode", CValueArray(), out);
  EXPECT_FALSE(st.Succeeded());
  EXPECT_EQ(log.Count("'Thrower'", kError), 1) << log.All();
  EXPECT_EQ(log.Count("explode_Execute threw an exception: boom", kError), 1) << log.All();
  // The host carries on.
  EXPECT_FALSE(Runtime::Get().Execute(L"explode", CValueArray(), out).Succeeded());
}

TEST(PluginLoader, ThrowingInitLeavesTheCommandUnusableAndIsNotRetried) {
  LogCapture log;
  PluginManager pm(Runtime::Get());
  ASSERT_TRUE(pm.Load(TestPlugin("throwing_plugin")).Succeeded());
  CValue out;
  EXPECT_FALSE(Runtime::Get().Execute(L"badinit", CValueArray(), out).Succeeded());
  EXPECT_FALSE(Runtime::Get().Execute(L"badinit", CValueArray(), out).Succeeded());
  EXPECT_EQ(log.Count("badinit_Init called"), 1) << log.All();
  EXPECT_EQ(log.Count("badinit_Execute called"), 0) << log.All();
  EXPECT_EQ(log.Count("badinit_Init threw an exception", kError), 1) << log.All();
  EXPECT_EQ(log.Count("'badinit' is not usable", kError), 1) << log.All();
  EXPECT_EQ(log.Count("badinit: cannot run: its badinit_Init failed", kError), 1) << log.All();
  EXPECT_TRUE(Runtime::Get().FindCommand(L"badinit")->arguments.empty())
      << "no half-declared argument list stays behind";
  EXPECT_FALSE(pm.DefineAll().Succeeded());
}

TEST(PluginLoader, LoadDirectoryLoadsTheGoodOnesInNameOrder) {
  TempDir dir;
  fs::copy_file(TestPlugin("throwing_plugin"), dir.File("b_throwing.so"));
  fs::copy_file(TestPlugin("echo_plugin"), dir.File("a_echo.so"));
  fs::copy_file(TestPlugin("no_execute_plugin"), dir.File("c_broken.so"));
  dir.Write("x.so", "garbage");
  dir.Write("notes.txt", "not a plug-in");
  const std::string image = ReadBytes(TestPlugin("echo_twin"));
  dir.Write("d_truncated.so", image.substr(0, LoadedBytes(image) - 100));
  ASSERT_EQ(mkfifo(dir.File("e_fifo.so").c_str(), 0600), 0);
  fs::create_directory(dir.File("f_folder.so"));
  LogCapture log;
  PluginManager pm(Runtime::Get());
  EXPECT_EQ(pm.LoadDirectory(dir.Path().string()), 2);
  EXPECT_EQ(pm.LoadedPaths(), (std::vector<std::string>{dir.File("a_echo.so"), dir.File("b_throwing.so")}));
  EXPECT_EQ(log.Count("c_broken.so", kError), 1) << log.All();
  EXPECT_EQ(log.Count("x.so", kError), 1) << log.All();
  EXPECT_EQ(log.Count("d_truncated.so': truncated: segment", kError), 1) << log.All();
  EXPECT_EQ(log.Count("e_fifo.so': it is a FIFO", kError), 1) << log.All();
  EXPECT_EQ(log.Count("f_folder.so': it is a folder", kError), 1) << log.All();
  EXPECT_EQ(log.Count("notes.txt"), 0);

  EXPECT_EQ(pm.LoadDirectory(dir.File("nowhere")), 0);
  EXPECT_EQ(log.Count("cannot read plug-in folder '" + dir.File("nowhere") + "'", kError), 1);
}

namespace {

// Where the structures of a built plug-in are, so a test can corrupt one of
// them in a copy. The images are our own builds, read as they are.
class ElfLayout {
 public:
  explicit ElfLayout(const std::string& image) : image_(image) {
    std::memcpy(&header_, image.data(), sizeof header_);
  }
  const ElfW(Ehdr)& Header() const { return header_; }
  // Offset of the first program header of `type`, or 0.
  std::size_t Segment(ElfW(Word) type) const {
    for (int i = 0; i < header_.e_phnum; ++i) {
      const std::size_t at = header_.e_phoff + i * sizeof(ElfW(Phdr));
      if (Get<ElfW(Phdr)>(at).p_type == type) return at;
    }
    return 0;
  }
  // Offset of the program header of the loadable segment holding `address`.
  std::size_t LoadHolding(std::uint64_t address) const {
    for (int i = 0; i < header_.e_phnum; ++i) {
      const std::size_t at = header_.e_phoff + i * sizeof(ElfW(Phdr));
      const auto s = Get<ElfW(Phdr)>(at);
      if (s.p_type == PT_LOAD && address >= s.p_vaddr && address < s.p_vaddr + s.p_memsz) return at;
    }
    return 0;
  }
  // File offset of the bytes loaded at `address`.
  std::size_t FileOffset(std::uint64_t address) const {
    for (int i = 0; i < header_.e_phnum; ++i) {
      const auto s = Get<ElfW(Phdr)>(header_.e_phoff + i * sizeof(ElfW(Phdr)));
      if (s.p_type == PT_LOAD && address >= s.p_vaddr && address < s.p_vaddr + s.p_filesz)
        return s.p_offset + (address - s.p_vaddr);
    }
    return 0;
  }
  // Offsets of the dynamic entries with `tag`.
  std::vector<std::size_t> Dynamic(ElfW(Sxword) tag) const {
    const auto dyn = Get<ElfW(Phdr)>(Segment(PT_DYNAMIC));
    std::vector<std::size_t> found;
    for (std::size_t at = dyn.p_offset; at + sizeof(ElfW(Dyn)) <= dyn.p_offset + dyn.p_filesz;
         at += sizeof(ElfW(Dyn)))
      if (Get<ElfW(Dyn)>(at).d_tag == tag) found.push_back(at);
    return found;
  }
  std::uint64_t DynamicValue(ElfW(Sxword) tag) const {
    return Get<ElfW(Dyn)>(Dynamic(tag).at(0)).d_un.d_val;
  }
  // Offset of the first section header of `type`.
  std::size_t Section(ElfW(Word) type) const {
    for (int i = 0; i < header_.e_shnum; ++i) {
      const std::size_t at = header_.e_shoff + i * sizeof(ElfW(Shdr));
      if (Get<ElfW(Shdr)>(at).sh_type == type) return at;
    }
    return 0;
  }
  // Offset of the .dynsym entry named `name`.
  std::size_t Symbol(const std::string& name) const {
    const auto table = Get<ElfW(Shdr)>(Section(SHT_DYNSYM));
    const auto strings =
        Get<ElfW(Shdr)>(header_.e_shoff + table.sh_link * sizeof(ElfW(Shdr)));
    for (std::size_t at = table.sh_offset; at < table.sh_offset + table.sh_size; at += sizeof(ElfW(Sym)))
      if (image_.c_str() + strings.sh_offset + Get<ElfW(Sym)>(at).st_name == name) return at;
    return 0;
  }
  template <typename T>
  T Get(std::size_t at) const {
    T value;
    std::memcpy(&value, image_.data() + at, sizeof value);
    return value;
  }

 private:
  const std::string& image_;
  ElfW(Ehdr) header_;
};

// A copy of `image` with `value` written over the field at `at`.
template <typename T>
std::string Patched(std::string image, std::size_t at, T value) {
  image.replace(at, sizeof value, reinterpret_cast<const char*>(&value), sizeof value);
  return image;
}

}  // namespace

// A plug-in for another SDK used to be opened before its version was read:
// its static initialiser ran, and this one aborts. Now the version comes from
// the file and the plug-in never runs; the others still load.
TEST(PluginLoader, APluginForAnotherSdkNeverRunsAnyCode) {
  // The fixture really does abort when opened.
  EXPECT_DEATH(dlopen(TestPlugin("aborting_plugin").c_str(), RTLD_NOW | RTLD_LOCAL), "");
  TempDir dir;
  fs::copy_file(TestPlugin("aborting_plugin"), dir.File("a_aborting.so"));
  fs::copy_file(TestPlugin("echo_plugin"), dir.File("b_echo.so"));
  LogCapture log;
  PluginManager pm(Runtime::Get());
  EXPECT_EQ(pm.LoadDirectory(dir.Path().string()), 1) << log.All();
  EXPECT_EQ(log.Count("cannot load plug-in '" + dir.File("a_aborting.so") +
                          "': it was built against SDK 3.0 and this host has SDK " +
                          std::to_string(XSI_SDK_VERSION_MAJOR) + "." + std::to_string(XSI_SDK_VERSION_MINOR),
                      kError),
            1)
      << log.All();
  EXPECT_EQ(Echo(Args({1})), "int:1|int:7|text:dflt");
}

// Each corrupt structure is one the system loader would follow into
// unmapped memory (SIGSEGV inside dlopen) or one that hides the SDK version:
// all are refused before dlopen, and the good plug-in beside them loads.
TEST(PluginLoader, CorruptDynamicAndSectionDataIsRefusedBeforeOpening) {
  const std::string image = ReadBytes(TestPlugin("echo_plugin"));
  const ElfLayout elf(image);
  const std::uint64_t far = 0x7fff00000000;
  const std::size_t dynamic = elf.Segment(PT_DYNAMIC);
  ASSERT_NE(dynamic, 0u);
  const std::size_t stack = elf.Segment(PT_GNU_STACK);
  ASSERT_NE(stack, 0u);
  const std::size_t dynsym = elf.Section(SHT_DYNSYM);
  const std::size_t version = elf.Symbol(XSI_SDK_VERSION_SYMBOL);
  ASSERT_NE(version, 0u);
  const auto versionSymbol = elf.Get<ElfW(Sym)>(version);
  const std::size_t versionSection = elf.Header().e_shoff + versionSymbol.st_shndx * sizeof(ElfW(Shdr));
  const std::size_t firstRela = elf.FileOffset(elf.DynamicValue(DT_RELA));
  ASSERT_NE(firstRela, 0u);
  const std::size_t dynamicLoad = elf.LoadHolding(elf.Get<ElfW(Phdr)>(dynamic).p_vaddr);
  ASSERT_NE(dynamicLoad, 0u);
  std::string noNull = image;
  for (std::size_t at : elf.Dynamic(DT_NULL))
    noNull = Patched(noNull, at + offsetof(ElfW(Dyn), d_tag), ElfW(Sxword){DT_DEBUG});

  struct Case {
    std::string name, bytes, why;
  };
  const Case cases[] = {
      {"dynamic_far", Patched(Patched(image, dynamic + offsetof(ElfW(Phdr), p_vaddr), far),
                              dynamic + offsetof(ElfW(Phdr), p_paddr), far),
       "the dynamic segment (segment "},
      {"dynamic_past_end", Patched(image, dynamic + offsetof(ElfW(Phdr), p_offset), std::uint64_t{image.size()}),
       "truncated: the dynamic segment"},
      {"dynamic_read_only", Patched(image, dynamicLoad + offsetof(ElfW(Phdr), p_flags), ElfW(Word){PF_R}),
       "the dynamic segment (segment "},
      {"no_dynamic", Patched(image, dynamic + offsetof(ElfW(Phdr), p_type), ElfW(Word){PT_NOTE}),
       "no dynamic segment (PT_DYNAMIC)"},
      {"interp", Patched(image, stack + offsetof(ElfW(Phdr), p_type), ElfW(Word){PT_INTERP}),
       "it names a program interpreter (PT_INTERP"},
      {"no_null", noNull, "the dynamic segment does not end with DT_NULL"},
      {"strtab_far", Patched(image, elf.Dynamic(DT_STRTAB).at(0) + offsetof(ElfW(Dyn), d_un), far),
       "dynamic entry DT_STRTAB (with DT_STRSZ) ("},
      {"strsz_huge", Patched(image, elf.Dynamic(DT_STRSZ).at(0) + offsetof(ElfW(Dyn), d_un), far),
       "dynamic entry DT_STRTAB (with DT_STRSZ) ("},
      {"init_array_far", Patched(image, elf.Dynamic(DT_INIT_ARRAY).at(0) + offsetof(ElfW(Dyn), d_un), far),
       "dynamic entry DT_INIT_ARRAY (with DT_INIT_ARRAYSZ)"},
      {"gnu_hash_far", Patched(image, elf.Dynamic(DT_GNU_HASH).at(0) + offsetof(ElfW(Dyn), d_un), far),
       "dynamic entry DT_GNU_HASH ("},
      {"needed_name", Patched(image, elf.Dynamic(DT_NEEDED).at(0) + offsetof(ElfW(Dyn), d_un),
                              std::uint64_t{elf.DynamicValue(DT_STRSZ) + 5}),
       "dynamic entry DT_NEEDED names string "},
      {"syment", Patched(image, elf.Dynamic(DT_SYMENT).at(0) + offsetof(ElfW(Dyn), d_un), std::uint64_t{16}),
       "dynamic entry DT_SYMENT is 16"},
      {"relocation_far", Patched(image, firstRela + offsetof(ElfW(Rela), r_offset), far),
       "relocation 0 of DT_RELA writes at address 0x7fff00000000, outside every writable"},
      {"no_sections", Patched(image, offsetof(ElfW(Ehdr), e_shnum), ElfW(Half){0}),
       "no section headers: the SDK version it was built against cannot be read"},
      {"sections_past_end", Patched(image, offsetof(ElfW(Ehdr), e_shoff), ElfW(Off){image.size() - 64}),
       "truncated: the section header table ends at byte "},
      {"dynsym_past_end", Patched(image, dynsym + offsetof(ElfW(Shdr), sh_offset), ElfW(Off){far}),
       "truncated: .dynsym (section "},
      {"dynsym_moved", Patched(image, dynsym + offsetof(ElfW(Shdr), sh_offset), ElfW(Off){64}),
       ".dynsym (section "},
      {"version_outside", Patched(image, version + offsetof(ElfW(Sym), st_value), ElfW(Addr){far}),
       "XSIPluginSDKVersion (symbol "},
      {"version_nobits", Patched(image, versionSection + offsetof(ElfW(Shdr), sh_type), ElfW(Word){SHT_NOBITS}),
       "the section of XSIPluginSDKVersion (symbol "},
      {"version_no_section", Patched(image, version + offsetof(ElfW(Sym), st_shndx), ElfW(Half){0xfff0}),
       std::string(XSI_SDK_VERSION_SYMBOL) + " (symbol " +
           std::to_string((version - elf.Get<ElfW(Shdr)>(dynsym).sh_offset) / sizeof(ElfW(Sym))) +
           ") is in section 65520, which the file does not have"},
  };
  TempDir dir;
  fs::copy_file(TestPlugin("echo_plugin"), dir.File("zz_good.so"));
  for (const Case& c : cases) dir.Write(c.name + ".so", c.bytes);
  LogCapture log;
  PluginManager pm(Runtime::Get());
  EXPECT_EQ(pm.LoadDirectory(dir.Path().string()), 1) << log.All();
  for (const Case& c : cases)
    EXPECT_EQ(log.Count("cannot load plug-in '" + dir.File(c.name + ".so") + "': " + c.why, kError), 1)
        << c.name << "\n"
        << log.All();
  EXPECT_EQ(log.Count("", kError), static_cast<int>(std::size(cases))) << log.All();
  EXPECT_EQ(pm.LoadedPaths(), std::vector<std::string>{dir.File("zz_good.so")});
}

// The smallest file the checks accept (tests/fuzz/make_elf_seed.py, the
// fuzz harness's seed): its version is read from .dynsym and .rodata, and
// the loader opens it and refuses it for having no XSILoadPlugin.
TEST(PluginLoader, ACraftedMinimalLibraryIsReadAndOpenedSafely) {
  const std::string seeds = std::string(XSI_SOURCE_DIR) + "/tests/fuzz/corpus/elf/";
  host::SdkVersionExport version;
  EXPECT_EQ(host::FindSharedObjectProblem(seeds + "minimal.so", &version), "");
  EXPECT_TRUE(version.found);
  EXPECT_EQ(version.bytes, 8u);
  EXPECT_EQ(version.major, 2u);
  EXPECT_EQ(version.minor, 0u);
  EXPECT_EQ(host::FindSharedObjectProblem(seeds + "minimal_sdk3.so", &version), "");
  EXPECT_EQ(version.major, 3u);

  // Every seed and past finding of the fuzz harness is answered (the
  // version chain of version_chain_loop.so once looped for ever).
  for (const auto& entry : fs::directory_iterator(seeds)) {
    SCOPED_TRACE(entry.path().string());
    host::FindSharedObjectProblem(entry.path().string(), &version);
  }
  EXPECT_NE(host::FindSharedObjectProblem(seeds + "version_chain_loop.so", &version), "");

  TempDir dir;
  fs::copy_file(seeds + "minimal.so", dir.File("minimal.so"));
  fs::copy_file(seeds + "minimal_sdk3.so", dir.File("sdk3.so"));
  LogCapture log;
  PluginManager pm(Runtime::Get());
  EXPECT_EQ(pm.LoadDirectory(dir.Path().string()), 0);
  EXPECT_EQ(log.Count("plug-in '" + dir.File("minimal.so") + "' does not export XSILoadPlugin", kError), 1)
      << log.All();
  EXPECT_EQ(log.Count("cannot load plug-in '" + dir.File("sdk3.so") + "': it was built against SDK 3.0", kError), 1)
      << log.All();
}
