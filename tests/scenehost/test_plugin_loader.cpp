// PluginManager against the real runtime and real shared libraries.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
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
  EXPECT_EQ(log.Count("echo_Init call 1", 16), 1) << log.All();
  EXPECT_EQ(log.Count("echo_Init call 2"), 0) << log.All();
  EXPECT_EQ(log.Count("echo_Execute after 1 init call(s)", 16), 2) << log.All();

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
  EXPECT_EQ(log.Count("echo: too many arguments: got 4, takes 3", 2), 1) << log.All();
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
  EXPECT_EQ(log.Count("EchoPlugin has been unloaded.", 16), 1) << log.All();
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
  EXPECT_EQ(log.Count("no_execute_plugin.so", 2), 1) << log.All();
  EXPECT_EQ(log.Count("does not export halfdone_Execute", 2), 1) << log.All();
  // Its load ran, so it is told about the unload.
  EXPECT_EQ(log.Count("HalfDone has been unloaded.", 16), 1) << log.All();
}

TEST(PluginLoader, MissingUnloadExportIsRefused) {
  LogCapture log;
  PluginManager pm(Runtime::Get());
  EXPECT_FALSE(pm.Load(TestPlugin("no_unload_plugin")).Succeeded());
  EXPECT_EQ(Runtime::Get().FindCommand(L"orphan"), nullptr);
  EXPECT_EQ(log.Count("no_unload_plugin.so' does not export XSIUnloadPlugin", 2), 1) << log.All();
}

TEST(PluginLoader, NonLibraryFileIsRefusedNamingIt) {
  TempDir dir;
  WriteText(dir.File("x.so"), "not a shared library\n");
  LogCapture log;
  PluginManager pm(Runtime::Get());
  EXPECT_FALSE(pm.Load(dir.File("x.so")).Succeeded());
  EXPECT_EQ(log.Count("cannot load plug-in '" + dir.File("x.so") + "'", 2), 1) << log.All();
  EXPECT_FALSE(pm.Load(dir.File("missing.so")).Succeeded());
  EXPECT_EQ(log.Count("cannot load plug-in '" + dir.File("missing.so") + "'", 2), 1);
}

TEST(PluginLoader, TakenCommandNameRejectsTheLaterPlugin) {
  LogCapture log;
  PluginManager pm(Runtime::Get());
  ASSERT_TRUE(pm.Load(TestPlugin("echo_plugin")).Succeeded());
  EXPECT_FALSE(pm.Load(TestPlugin("echo_twin")).Succeeded());
  EXPECT_EQ(log.Count("EchoTwin", 2), 1) << log.All();
  EXPECT_EQ(log.Count("'echo': the name is already taken by 'EchoPlugin'", 2), 1) << log.All();
  EXPECT_EQ(Runtime::Get().FindCommand(L"echo")->owner.GetUtf8String(), "EchoPlugin");
  EXPECT_EQ(Echo(Args({1})), "int:1|int:7|text:dflt");
  EXPECT_EQ(pm.LoadedPaths().size(), 1u);
}

TEST(PluginLoader, SameLibraryTwiceIsRefused) {
  LogCapture log;
  PluginManager pm(Runtime::Get());
  ASSERT_TRUE(pm.Load(TestPlugin("echo_plugin")).Succeeded());
  EXPECT_FALSE(pm.Load(TestPlugin("echo_plugin")).Succeeded());
  EXPECT_EQ(log.Count("is already loaded", 2), 1) << log.All();
  EXPECT_EQ(pm.LoadedPaths().size(), 1u);
}

TEST(PluginLoader, ExceptionInExecuteIsCaughtAndNamed) {
  LogCapture log;
  PluginManager pm(Runtime::Get());
  ASSERT_TRUE(pm.Load(TestPlugin("throwing_plugin")).Succeeded());
  CValue out;
  XSI::CStatus st = Runtime::Get().Execute(L"explode", CValueArray(), out);
  EXPECT_FALSE(st.Succeeded());
  EXPECT_EQ(log.Count("'Thrower'", 2), 1) << log.All();
  EXPECT_EQ(log.Count("explode_Execute threw an exception: boom", 2), 1) << log.All();
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
  EXPECT_EQ(log.Count("badinit_Init threw an exception", 2), 1) << log.All();
  EXPECT_EQ(log.Count("'badinit' is not usable", 2), 1) << log.All();
  EXPECT_EQ(log.Count("badinit: cannot run: its badinit_Init failed", 2), 1) << log.All();
  EXPECT_TRUE(Runtime::Get().FindCommand(L"badinit")->arguments.empty())
      << "no half-declared argument list stays behind";
  EXPECT_FALSE(pm.DefineAll().Succeeded());
}

TEST(PluginLoader, LoadDirectoryLoadsTheGoodOnesInNameOrder) {
  TempDir dir;
  fs::copy_file(TestPlugin("throwing_plugin"), dir.File("b_throwing.so"));
  fs::copy_file(TestPlugin("echo_plugin"), dir.File("a_echo.so"));
  fs::copy_file(TestPlugin("no_execute_plugin"), dir.File("c_broken.so"));
  WriteText(dir.File("x.so"), "garbage");
  WriteText(dir.File("notes.txt"), "not a plug-in");
  LogCapture log;
  PluginManager pm(Runtime::Get());
  EXPECT_EQ(pm.LoadDirectory(dir.Path().string()), 2);
  EXPECT_EQ(pm.LoadedPaths(), (std::vector<std::string>{dir.File("a_echo.so"), dir.File("b_throwing.so")}));
  EXPECT_EQ(log.Count("c_broken.so", 2), 1) << log.All();
  EXPECT_EQ(log.Count("x.so", 2), 1) << log.All();
  EXPECT_EQ(log.Count("notes.txt"), 0);

  EXPECT_EQ(pm.LoadDirectory(dir.File("nowhere")), 0);
  EXPECT_EQ(log.Count("cannot read plug-in folder '" + dir.File("nowhere") + "'", 2), 1);
}
