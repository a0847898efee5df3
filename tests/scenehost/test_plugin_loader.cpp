// PluginManager against the real runtime and real shared libraries.
#include <gtest/gtest.h>

#include <elf.h>
#include <link.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <xsi_application.h>
#include <xsi_version.h>

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
  ASSERT_EQ(host, "2.0") << "the test plug-ins claim versions around SDK 2.0";
  TempDir dir;
  for (const char* name : {"sdk_3_0_plugin", "sdk_1_0_plugin", "sdk_2_1_plugin", "sdk_short_plugin",
                           "unversioned_plugin", "versioned_plugin", "echo_plugin"}) {
    fs::copy_file(TestPlugin(name), dir.File(std::string(name) + ".so"));
  }
  LogCapture log;
  PluginManager pm(Runtime::Get());
  EXPECT_EQ(pm.LoadDirectory(dir.Path().string()), 2) << log.All();
  const std::string prefix = "cannot load plug-in '" + dir.File("");
  EXPECT_EQ(log.Count(prefix + "sdk_3_0_plugin.so': it was built against SDK 3.0 and this host "
                               "has SDK 2.0: the major versions differ; rebuild it against SDK 2.0",
                      kError),
            1)
      << log.All();
  EXPECT_EQ(log.Count(prefix + "sdk_1_0_plugin.so': it was built against SDK 1.0 and this host "
                               "has SDK 2.0: the major versions differ",
                      kError),
            1)
      << log.All();
  EXPECT_EQ(log.Count(prefix + "sdk_2_1_plugin.so': it was built against SDK 2.1, newer than "
                               "this host's SDK 2.0; use a newer scenehost or rebuild it against "
                               "SDK 2.0",
                      kError),
            1)
      << log.All();
  EXPECT_EQ(log.Count(prefix + "unversioned_plugin.so': it was built without a versioned SDK (no "
                               "XSIPluginSDKVersion export); rebuild it against SDK 2.0",
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
  EXPECT_TRUE(pm.LoadedPaths().empty());
  // Whatever follows the loaded segments (symbols, debug data) is not needed.
  const std::string whole = dir.Write("whole.so", image.substr(0, loaded));
  EXPECT_TRUE(pm.Load(whole).Succeeded()) << log.All();
  EXPECT_EQ(Echo(Args({1})), "int:1|int:7|text:dflt");
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
