// scenehost: runs host and plug-in commands on one scene, from the command
// line or from a script file, and optionally saves the result.
//
//   scenehost [options] COMMAND [ARG...]
//   scenehost [options] --script FILE
//   scenehost help COMMAND          (also COMMAND --help)
//   scenehost view PATH [--port N] [--listen ADDR]   (view_server.h, loaded through view_launch.h)
//
// Exit status: 0 every command succeeded, 1 a command failed, 2 usage error
// (unknown command or option, unreadable or malformed script), 130 the run
// was cancelled with Ctrl-C.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <xsi_application.h>
#include <xsi_siobject.h>
#include <xsi_version.h>

#include "cancel_signal.h"
#include "command_help.h"
#include "message_text.h"
#include "plugin_loader.h"
#include "progress_display.h"
#include "preview_settings.h"
#include "runtime.h"
#include "safe_file.h"
#include "script_words.h"
#include "view_launch.h"

namespace {

namespace fs = std::filesystem;

enum Exit { kOk = 0, kFailed = 1, kUsage = 2, kCancelled = 130 };  // 130: as shells report SIGINT

struct Options {
  std::string home;
  std::vector<std::string> pluginDirs;
  std::vector<std::string> pluginFiles;
  std::string save;
  std::string preview;      // --preview FILE.png
  std::string previewSize;  // --preview-size WxH
  std::string view;         // --view NAME
  std::string log;
  std::string script;
  bool trace = false;
  bool verbose = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> command;  // COMMAND ARG...
};

// ---- where things are ----------------------------------------------------------

fs::path ExecutableDir() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

bool SameDir(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

// The build tree's executable uses the source tree's home/ and the build
// tree's plug-ins; an installed copy finds both relative to itself. The
// factory folder is where the host's own files are: the install prefix, or
// the build folder.
struct DefaultPaths {
  std::string home, plugins, factory;
};

DefaultPaths FindDefaultPaths() {
  const fs::path dir = ExecutableDir();
  if (dir.empty() || SameDir(dir, SCENEHOST_BUILD_BINDIR)) {
    return {SCENEHOST_BUILD_HOME, SCENEHOST_BUILD_PLUGINS,
            fs::path(SCENEHOST_BUILD_BINDIR).parent_path().string()};
  }
  return {(dir / SCENEHOST_INSTALL_HOME).lexically_normal().string(),
          (dir / SCENEHOST_INSTALL_PLUGINS).lexically_normal().string(),
          dir.parent_path().lexically_normal().string()};
}

// ---- log output ------------------------------------------------------------------

// Severities are the SDK's siSeverityType values; a plug-in may pass any
// number, so each label covers the range up to the next named severity.
const char* SeverityLabel(int severity) {
  if (severity <= XSI::siFatalMsg) return "fatal";
  if (severity < XSI::siWarningMsg) return "error";
  if (severity < XSI::siTraceMsg) return "warning";
  if (severity < XSI::siInfoMsg) return "verbose";
  return "info";
}

bool IsError(int severity) { return severity < XSI::siWarningMsg; }
bool IsVerbose(int severity) { return severity >= XSI::siTraceMsg && severity < XSI::siInfoMsg; }

// Writes log lines to stderr (filtered) and to the log file (all of them).
class LogOutput {
 public:
  enum Level { Quiet, Normal, Verbose };

  explicit LogOutput(Level level) : level_(level) {}

  bool OpenFile(const std::string& path, std::string& error) {
    file_.open(path, std::ios::out | std::ios::trunc);
    if (!file_) {
      error = "cannot open log file '" + path + "': " + host::ErrnoReason(errno);
      return false;
    }
    return true;
  }

  // A progress bar on the same terminal makes way for each line shown.
  void SetProgressDisplay(scenehost::ProgressDisplay* display) { display_ = display; }

  // Script position put in front of errors and warnings ("run.txt:3: ").
  void SetLocation(std::string location) { location_ = std::move(location); }
  int Errors() const { return errors_; }

  // A message may echo anything a script or a plug-in handed over: each
  // line is escaped and cut (message_text.h) so that one entry stays one
  // readable line.
  void Write(const XSI::CString& text, int severity) {
    if (IsError(severity)) ++errors_;
    std::string line = std::string(SeverityLabel(severity)) + ": ";
    if (severity < XSI::siTraceMsg && !location_.empty()) line += location_ + ": ";
    line += scenehost::ShownText(text.GetUtf8String(), scenehost::kShownLineBytes);
    if (file_) file_ << line << '\n' << std::flush;
    if (!ShowsOnTerminal(severity)) return;
    if (display_) display_->BeforeTerminalLine();
    std::cerr << line << '\n' << std::flush;
    if (display_) display_->AfterTerminalLine();
  }

 private:
  bool ShowsOnTerminal(int severity) const {
    switch (level_) {
      case Quiet: return IsError(severity);
      case Verbose: return true;
      case Normal: break;
    }
    return !IsVerbose(severity);
  }

  Level level_;
  std::ofstream file_;
  std::string location_;
  int errors_ = 0;
  scenehost::ProgressDisplay* display_ = nullptr;
};

// ---- running commands ------------------------------------------------------------

std::optional<std::string> FormatValue(const XSI::CValue& value) {
  switch (value.GetType()) {
    case XSI::CValue::siEmpty: return std::nullopt;
    case XSI::CValue::siBool: return std::string(value.GetAsBool() ? "true" : "false");
    case XSI::CValue::siRef: {
      // A reference prints as the name of what it refers to.
      const std::string name = XSI::SIObject(value.GetAsRef()).GetFullName().GetUtf8String();
      return name.empty() ? std::nullopt : std::optional<std::string>(name);
    }
    default: return value.GetAsText().GetUtf8String();
  }
}

class Host {
 public:
  Host(host::Runtime& rt, LogOutput& log) : rt_(rt), log_(log) {}

  bool Knows(const std::string& name) const {
    return rt_.FindCommand(XSI::CString::FromUtf8(name)) != nullptr;
  }

  // The registered command nearest to a mistyped name, or empty.
  std::string Nearest(const std::string& word) const {
    std::vector<std::string> names;
    for (const host::CommandDef* def : rt_.Commands()) names.push_back(def->name.GetUtf8String());
    return scenehost::NearestName(word, names);
  }

  // Runs one command; prints its value. Returns kOk, kFailed or kCancelled.
  Exit Run(const std::string& name, const XSI::CValueArray& args) {
    if (rt_.GetProgress().CancelRequested()) return Cancelled("stopped before " + name);
    const int errorsBefore = log_.Errors();
    XSI::CValue out;
    const XSI::CStatus st = rt_.Execute(XSI::CString::FromUtf8(name), args, out);
    // A bar the command left running would stay on screen for good.
    rt_.GetProgress().Stop();
    if (st == XSI::CStatus::Abort)
      return Cancelled(name + " stopped; " +
                       (name == "SaveScene" ? "nothing was written" : "the scene is as it was before it"));
    if (rt_.GetProgress().CancelRequested()) {
      if (auto text = FormatValue(out); text && st.Succeeded()) std::cout << *text << '\n' << std::flush;
      return Cancelled("stopped after " + name + (st.Succeeded() ? "" : ", which failed"));
    }
    if (!st.Succeeded()) {
      if (log_.Errors() == errorsBefore) rt_.Error(XSI::CString::FromUtf8(name + " failed"));
      return kFailed;
    }
    if (auto text = FormatValue(out)) std::cout << *text << '\n' << std::flush;
    return kOk;
  }

  Exit RunWords(const std::vector<std::string>& words) {
    XSI::CValueArray args;
    for (std::size_t i = 1; i < words.size(); ++i) args.Add(scenehost::ParseWord(words[i]));
    return Run(words[0], args);
  }

 private:
  // Only the plug-in knows what its own command undid, so the message says
  // no more than which command the run stopped at.
  Exit Cancelled(const std::string& what) {
    rt_.Error(XSI::CString::FromUtf8("cancelled: " + what));
    return kCancelled;
  }

  host::Runtime& rt_;
  LogOutput& log_;
};

// Usage errors go straight to stderr; the message is escaped like a log line.
void PrintUsageError(const std::string& message) {
  std::cerr << "error: " << scenehost::ShownText(message, scenehost::kShownLineBytes) << '\n';
}

// A word as it appears inside a message: quoted, escaped, cut.
std::string Quoted(const std::string& word) { return "'" + scenehost::ShownText(word) + "'"; }

// A path is cut only when far longer than any real one.
std::string QuotedPath(const std::string& path) {
  return "'" + scenehost::ShownText(path, scenehost::kShownLineBytes) + "'";
}

std::string UnknownCommand(const Host& host, const std::string& name) {
  const std::string nearest = host.Nearest(name);
  const std::string hint = nearest.empty() ? "" : "did you mean " + nearest + "? ";
  return "unknown command " + Quoted(name) + " (" + hint + "scenehost --help lists the commands)";
}

// "run.txt:3", for errors and for the log lines of the command on that line.
std::string ScriptLocation(const std::string& path, int line) {
  return scenehost::ShownText(path, scenehost::kShownLineBytes) + ":" + std::to_string(line);
}

// The largest script scenehost reads. Generous for any hand-written or
// generated script, and it caps what a wrong file name (a log, a device) can
// cost: the text is held whole while the script runs.
constexpr std::size_t kMaxScriptBytes = std::size_t{16} << 20;  // 16 MiB

// Reads a script whole through the runtime's bounded reader, refusing what
// is not a regular file or is too large, with the script's own messages.
bool ReadScriptFile(const std::string& path, std::string& text, std::string& error) {
  const std::string cannot = "cannot read script " + QuotedPath(path) + ": ";
  std::string reason;
  host::ReadFailure failure;
  if (host::ReadRegularFile(path, kMaxScriptBytes, text, reason, &failure)) return true;
  switch (failure.what) {
    case host::ReadFailure::kNotRegular:
      error = cannot + "it is " + host::FileKindName(failure.mode) + ", not a regular file";
      break;
    case host::ReadFailure::kTooLarge:
      error = cannot + "it is larger than " + std::to_string(kMaxScriptBytes >> 20) +
              " MiB, the limit for a script";
      break;
    case host::ReadFailure::kSystem:
      error = cannot + host::ErrnoReason(failure.error);
      break;
    case host::ReadFailure::kNone:
      error = cannot + reason;
      break;
  }
  return false;
}

// The whole script is checked (words and command names) before any of it
// runs, so a typo on the last line does not leave a half-done scene. Each
// pass holds one line's words at a time; the text is read once.
Exit RunScript(Host& host, LogOutput& log, const std::string& path) {
  std::string text, error;
  if (!ReadScriptFile(path, text, error)) {
    PrintUsageError(error);
    return kUsage;
  }
  scenehost::ScriptLine line;
  scenehost::ScriptReader check(text);
  while (check.Next(line)) {
    if (host.Knows(line.words[0])) continue;
    PrintUsageError(ScriptLocation(path, line.number) + ": " + UnknownCommand(host, line.words[0]));
    return kUsage;
  }
  if (!check.Ok()) {
    PrintUsageError(ScriptLocation(path, check.ErrorLine()) + ": " + check.Error());
    return kUsage;
  }
  scenehost::ScriptReader run(text);
  while (run.Next(line)) {
    log.SetLocation(ScriptLocation(path, line.number));
    const Exit result = host.RunWords(line.words);
    log.SetLocation("");
    if (result != kOk) return result;
  }
  return kOk;
}

// ---- help ---------------------------------------------------------------------------

void PrintCommands(host::Runtime& rt) {
  std::cout << "\nCommands (host and plug-in), with their arguments by position:\n";
  for (const host::CommandDef* def : rt.Commands()) {
    std::string line = "  " + def->name.GetUtf8String();
    for (const auto& arg : def->arguments) line += " " + arg.name.GetUtf8String();
    std::cout << line << '\n';
    std::string about = "      from " + def->owner.GetUtf8String();
    if (!def->description.IsEmpty()) about += ": " + def->description.GetUtf8String();
    std::cout << about << '\n';
  }
  std::cout << "\nscenehost help COMMAND describes one command, with an example.\n";
}

// `scenehost help CMD` and `scenehost CMD --help`: one command's arguments
// and an example.
Exit PrintCommandHelp(host::Runtime& rt, const Host& host, const std::string& name) {
  const host::CommandDef* def = rt.FindCommand(XSI::CString::FromUtf8(name));
  if (!def) {
    PrintUsageError(UnknownCommand(host, name));
    return kUsage;
  }
  scenehost::CommandFacts facts{def->name.GetUtf8String(), def->owner.GetUtf8String(),
                                def->description.GetUtf8String(), {}};
  for (const auto& arg : def->arguments) facts.arguments.push_back(arg.name.GetUtf8String());
  std::cout << scenehost::CommandHelp(facts);
  return kOk;
}

void LoadPlugins(host::PluginManager& plugins, const Options& o, const DefaultPaths& defaults) {
  if (o.pluginDirs.empty() && o.pluginFiles.empty()) {
    std::error_code ec;
    if (fs::is_directory(defaults.plugins, ec)) plugins.LoadDirectory(defaults.plugins);
    return;
  }
  for (const auto& dir : o.pluginDirs) plugins.LoadDirectory(dir);
  for (const auto& file : o.pluginFiles) plugins.Load(file);
}

// CLI11's usage line knows nothing of the COMMAND words after the options.
class UsageFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return "\nUsage: scenehost [options] COMMAND [ARG...]\n"
           "       scenehost [options] --script FILE\n"
           "       scenehost help COMMAND    (or COMMAND --help: its arguments and an example)\n"
           "       scenehost view PATH [--port N] [--listen ADDR]   (scenehost view --help)\n";
  }
};

void DefineOptions(CLI::App& app, Options& o) {
  app.formatter(std::make_shared<UsageFormatter>());
  app.set_help_flag();
  app.add_flag("-h,--help", o.help,
               "List the options and every command, then exit; after a COMMAND, describe that command");
  app.add_flag("--version", o.version, "Print the version and exit");
  app.add_option("--home", o.home, "Host folder (units libraries live below it)")
      ->type_name("DIR");
  // option_text: CLI11 would print "DIR ..." for a repeatable option.
  app.add_option("--plugins", o.pluginDirs, "Load every plug-in (*.so) in DIR; repeatable")
      ->type_name("DIR")
      ->option_text("DIR")
      ->allow_extra_args(false);
  app.add_option("--plugin", o.pluginFiles, "Load the plug-in FILE; repeatable")
      ->type_name("FILE")
      ->option_text("FILE")
      ->allow_extra_args(false);
  app.add_option("--script", o.script, "Run the commands in FILE, one a line")->type_name("FILE");
  app.add_option("--save", o.save, "Save the scene to FILE (.obj or .glb) after the commands")
      ->type_name("FILE");
  app.add_option("--preview", o.preview,
                 "Render the scene to FILE (.png) after the commands (and after --save)")
      ->type_name("FILE");
  app.add_option("--preview-size", o.previewSize, "Preview picture size, default 800x600")
      ->type_name("WxH");
  app.add_option("--view", o.view, "Preview view: iso (default), front, back, left, right, top")
      ->type_name("NAME");
  app.add_option("--log", o.log, "Write the whole log, verbose lines included, to FILE")
      ->type_name("FILE");
  app.add_flag("--trace", o.trace, "Print the journal to stderr at the end");
  app.add_flag("-v,--verbose", o.verbose, "Also show verbose log lines");
  app.add_flag("-q,--quiet", o.quiet, "Show errors only");
  app.footer(
      "Argument words: whole numbers are ints, decimal numbers doubles, true/false\n"
      "bools, anything else text.\n"
      "A script is UTF-8 text of at most 16 MiB: one command a line (at most 1 MiB),\n"
      "words quoted as in a POSIX shell, '#' starts a comment.\n"
      "Exit status: 0 success, 1 a command failed, 2 usage error, 130 cancelled.\n"
      "A plug-in that fails to load is reported and left out; it does not change\n"
      "the status. Ctrl-C asks the running command to stop, and the run ends after\n"
      "it without --save; a second Ctrl-C ends scenehost at once.");
}

// Options may stand before or after the COMMAND words, as in
// `scenehost RaiseTower Tower 5 4 3 brick A 1 --save tower.glb`. Words after
// "--" are always command words, and so is a word like "-1" or "-0.5".
bool IsOptionWord(const std::string& w) {
  if (w.size() < 2 || w[0] != '-') return false;
  if (w[1] == '-') return true;
  return !(std::isdigit(static_cast<unsigned char>(w[1])) || w[1] == '.');
}

bool OptionTakesValue(const std::string& w) {
  static const char* valued[] = {"--home", "--plugins", "--plugin", "--script", "--save", "--log",
                                 "--preview", "--preview-size", "--view"};
  for (const char* v : valued)
    if (w == v) return true;
  return false;
}

void SplitOptionsFromCommandWords(int argc, char** argv, std::vector<std::string>& options,
                                  std::vector<std::string>& words) {
  bool onlyWords = false;
  for (int i = 1; i < argc; ++i) {
    std::string w = argv[i];
    if (!onlyWords && w == "--") {
      onlyWords = true;
      continue;
    }
    if (onlyWords || !IsOptionWord(w)) {
      words.push_back(w);
      continue;
    }
    options.push_back(w);
    if (OptionTakesValue(w) && i + 1 < argc) options.push_back(argv[++i]);
  }
}

// CLI11 says "The following arguments were not expected: --b --a", last
// first since it was handed the options reversed.
std::string UnknownOptions(const std::string& what) {
  const std::size_t colon = what.find(": ");
  if (colon == std::string::npos) return what;
  std::istringstream words(what.substr(colon + 2));
  std::vector<std::string> names{std::istream_iterator<std::string>(words), {}};
  std::string list;
  for (auto it = names.rbegin(); it != names.rend(); ++it)
    list += (list.empty() ? "" : ", ") + Quoted(*it);
  return (names.size() == 1 ? "unknown option " : "unknown options ") + list +
         " (scenehost --help lists the options)";
}

// The lower-cased extension of a file name, ".glb"; empty when it has none.
std::string LowerExtension(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// The folder a file given to --save or --preview goes into must exist and
// take new files: the writers put a temporary file beside the target. When
// the target is a link, the file goes beside the link's target. Empty when
// the folder will do, else what is wrong with it.
std::string OutputFolderProblem(const std::string& path) {
  std::error_code ec;
  fs::path target = path;
  if (fs::is_symlink(target, ec)) {
    // The writers refuse a link to nothing rather than guess what to make.
    if (!fs::exists(target, ec)) return QuotedPath(path) + " is a link to a missing file";
    target = fs::weakly_canonical(target, ec);
  }
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  const std::string shown = QuotedPath(folder.string());
  const fs::file_status st = fs::status(folder, ec);
  if (st.type() == fs::file_type::not_found) return "the folder " + shown + " does not exist";
  if (ec) return "cannot reach the folder " + shown + ": " + host::ErrnoReason(ec.value());
  if (st.type() != fs::file_type::directory) return shown + " is not a folder";
  if (access(folder.c_str(), W_OK | X_OK) != 0)
    return "cannot write in the folder " + shown + ": " + host::ErrnoReason(errno);
  if (fs::is_directory(path, ec)) return QuotedPath(path) + " is a folder";
  return std::string();
}

// --save is checked before any command runs, as --preview is: a wrong
// extension or a missing folder must not cost a whole build first.
std::optional<Exit> CheckSaveOption(const Options& o) {
  if (o.save.empty()) return std::nullopt;
  const std::string ext = LowerExtension(o.save);
  if (ext != ".obj" && ext != ".glb") {
    PrintUsageError("--save: " + QuotedPath(o.save) + " must end in .obj or .glb" +
                    (ext.empty() ? std::string() : " (not " + Quoted(ext) + ")"));
    return kUsage;
  }
  if (const std::string problem = OutputFolderProblem(o.save); !problem.empty()) {
    PrintUsageError("--save: cannot write " + QuotedPath(o.save) + ": " + problem);
    return kUsage;
  }
  return std::nullopt;
}

// --home must be a folder; the units libraries are looked up below it.
std::optional<Exit> CheckHomeOption(const Options& o) {
  if (o.home.empty()) return std::nullopt;
  std::error_code ec;
  const fs::file_status st = fs::status(o.home, ec);
  if (st.type() == fs::file_type::not_found) {
    PrintUsageError("--home: the folder " + QuotedPath(o.home) + " does not exist");
    return kUsage;
  }
  if (ec || st.type() != fs::file_type::directory) {
    PrintUsageError("--home: " + QuotedPath(o.home) + " is not a folder");
    return kUsage;
  }
  return std::nullopt;
}

// The preview's size and view are checked before any command runs, so a
// typo does not cost a whole build.
std::optional<Exit> CheckPreviewOptions(const Options& o) {
  if (o.preview.empty() && (!o.previewSize.empty() || !o.view.empty())) {
    PrintUsageError("--preview-size and --view need --preview FILE");
    return kUsage;
  }
  std::string ext = o.preview.size() >= 4 ? o.preview.substr(o.preview.size() - 4) : "";
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!o.preview.empty() && ext != ".png") {
    PrintUsageError("--preview: " + QuotedPath(o.preview) + " must end in .png");
    return kUsage;
  }
  if (!o.preview.empty()) {
    if (const std::string problem = OutputFolderProblem(o.preview); !problem.empty()) {
      PrintUsageError("--preview: cannot write " + QuotedPath(o.preview) + ": " + problem);
      return kUsage;
    }
  }
  int width = 0, height = 0;
  host::render::View view{};
  std::string error;
  if (!o.previewSize.empty() && !host::render::ParsePreviewSize(o.previewSize, width, height, error)) {
    PrintUsageError("--preview-size: " + error);
    return kUsage;
  }
  if (!o.view.empty() && !host::render::ParsePreviewView(o.view, view, error)) {
    PrintUsageError("--view: " + error);
    return kUsage;
  }
  return std::nullopt;
}

// Parses argv; returns the exit status when there is nothing more to do.
std::optional<Exit> ParseOptions(CLI::App& app, Options& o, int argc, char** argv) {
  std::vector<std::string> options;
  SplitOptionsFromCommandWords(argc, argv, options, o.command);
  std::reverse(options.begin(), options.end());  // CLI11 takes them last-first
  try {
    app.parse(options);
  } catch (const CLI::ExtrasError& e) {
    PrintUsageError(UnknownOptions(e.what()));
    return kUsage;
  } catch (const CLI::ParseError& e) {
    PrintUsageError(e.what());
    return kUsage;
  }
  if (o.verbose && o.quiet) {
    PrintUsageError("give either --verbose or --quiet, not both");
    return kUsage;
  }
  if (o.help || o.version) return std::nullopt;
  if (auto exit = CheckPreviewOptions(o)) return *exit;
  if (auto exit = CheckSaveOption(o)) return *exit;
  if (auto exit = CheckHomeOption(o)) return *exit;
  if (!o.script.empty() && !o.command.empty()) {
    PrintUsageError("give either --script FILE or a COMMAND, not both");
    return kUsage;
  }
  if (o.script.empty() && o.command.empty()) {
    PrintUsageError("no command given (scenehost --help lists the commands)");
    return kUsage;
  }
  return std::nullopt;
}

Exit RunCommands(Host& host, LogOutput& log, const Options& o) {
  if (!o.script.empty()) return RunScript(host, log, o.script);
  if (!host.Knows(o.command[0])) {
    PrintUsageError(UnknownCommand(host, o.command[0]));
    return kUsage;
  }
  return host.RunWords(o.command);
}

Exit SaveScene(Host& host, LogOutput& log, const std::string& path) {
  XSI::CValueArray args;
  args.Add(XSI::CValue(XSI::CString::FromUtf8(path)));  // a path is text, even "1"
  log.SetLocation("--save");
  const Exit result = host.Run("SaveScene", args);
  log.SetLocation("");
  return result;
}

Exit RenderPreview(Host& host, LogOutput& log, const Options& o) {
  int width = 800, height = 600;
  std::string error;
  if (!o.previewSize.empty()) host::render::ParsePreviewSize(o.previewSize, width, height, error);
  XSI::CValueArray args;
  args.Add(XSI::CValue(XSI::CString::FromUtf8(o.preview)));
  args.Add(XSI::CValue(width));
  args.Add(XSI::CValue(height));
  args.Add(XSI::CValue(XSI::CString::FromUtf8(o.view.empty() ? "iso" : o.view)));
  log.SetLocation("--preview");
  const Exit result = host.Run("RenderPreview", args);
  log.SetLocation("");
  return result;
}

void SaveSkipped(host::Runtime& rt, const std::string& path) {
  rt.Error(XSI::CString::FromUtf8("--save skipped: the run was cancelled, so " + QuotedPath(path) +
                                  " was not written"));
}

// Commands run with the progress display attached and Ctrl-C asking them
// to stop. A failed or cancelled run leaves no file behind rather than a
// half-built scene.
Exit RunWithProgress(host::Runtime& rt, Host& host, LogOutput& log, const Options& o) {
  scenehost::ProgressDisplay display(scenehost::ProgressDisplay::ForStderr(
      o.quiet, [&rt](const std::string& line) { rt.Log(XSI::CString::FromUtf8(line), XSI::siInfoMsg); }));
  display.Attach(rt.GetProgress());
  struct Shown {
    LogOutput& log;
    ~Shown() { log.SetProgressDisplay(nullptr); }  // the log outlives the display
  } shown{log};
  log.SetProgressDisplay(&display);
  const scenehost::CancelOnInterrupt interrupt(rt.GetProgress());
  const Exit result = RunCommands(host, log, o);
  if (result == kCancelled && !o.save.empty()) SaveSkipped(rt, o.save);
  // A Ctrl-C during a big save stops it: the temporary file goes and any
  // old file stays. Either way no half-written file is left.
  if (result != kOk) return result;
  if (!o.save.empty()) {
    const Exit saved = SaveScene(host, log, o.save);
    if (saved != kOk) return saved;
  }
  return o.preview.empty() ? kOk : RenderPreview(host, log, o);
}

int Main(int argc, char** argv) {
  // `scenehost view PATH ...` serves a viewer instead of running commands.
  if (argc > 2 && std::string(argv[1]) == "help" && std::string(argv[2]) == "view") {
    return scenehost::RunViewModule({"--help"}, ExecutableDir());  // `scenehost help view`
  }
  if (argc > 1 && std::string(argv[1]) == "view") {
    return scenehost::RunViewModule(std::vector<std::string>(argv + 2, argv + argc), ExecutableDir());
  }
  Options o;
  CLI::App app{"Runs host and plug-in commands on a scene.", "scenehost"};
  DefineOptions(app, o);
  if (auto exit = ParseOptions(app, o, argc, argv)) return *exit;
  if (o.version) {
    std::cout << "scenehost " << SCENEHOST_VERSION << '\n'
              << "plug-in SDK " << XSI_SDK_VERSION_MAJOR << '.' << XSI_SDK_VERSION_MINOR << '\n';
    return kOk;
  }

  LogOutput log(o.quiet ? LogOutput::Quiet : o.verbose ? LogOutput::Verbose : LogOutput::Normal);
  std::string error;
  if (!o.log.empty() && !log.OpenFile(o.log, error)) {
    PrintUsageError(error);
    return kUsage;
  }
  host::Runtime& rt = host::Runtime::Get();
  const int sink = rt.AddLogSink([&log](const XSI::CString& text, int severity) {
    log.Write(text, severity);
  });

  const DefaultPaths defaults = FindDefaultPaths();
  rt.SetHomePath(o.home.empty() ? defaults.home : o.home);
  rt.SetFactoryPath(defaults.factory);
  Exit result = kOk;
  {
    host::PluginManager plugins(rt);
    LoadPlugins(plugins, o, defaults);
    Host host(rt, log);
    // "help" is a word of scenehost's own unless a plug-in took the name.
    const bool helpWord = !o.command.empty() && o.command[0] == "help" && !host.Knows("help");
    const std::vector<std::string> topic(o.command.begin() + (helpWord ? 1 : 0), o.command.end());
    if (o.help || helpWord) {
      plugins.DefineAll();
      if (!topic.empty()) {
        result = PrintCommandHelp(rt, host, topic[0]);
      } else {
        std::cout << app.help();
        PrintCommands(rt);
      }
    } else {
      result = RunWithProgress(rt, host, log, o);
    }
    plugins.UnloadAll();
  }
  if (o.trace) std::cerr << rt.GetJournal().Format();
  rt.RemoveLogSink(sink);
  return result;
}

}  // namespace

// Scene arrays grow by doubling. Blocks served by mmap are fresh pages at
// every step, each zeroed by the kernel on first touch, and unmapped again
// when the array moves on; served from the heap, freed blocks are reused by
// the next growth. The heap is also extended once, up front, by a span the
// kernel may back with huge pages, so a big scene takes a few hundred page
// faults instead of thousands; pages never touched cost nothing. Only a
// hint: where huge pages are off, or another allocator is in place (the
// sanitizer builds), this changes nothing.
namespace {
void PrepareHeap() {
  constexpr std::size_t kSpan = std::size_t{64} << 20, kHuge = std::size_t{2} << 20;
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kSpan));
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * kSpan));
  mallopt(M_TOP_PAD, static_cast<int>(kSpan));
  void* probe = std::malloc(256 << 10);  // more than the heap has left: it grows
  const auto from = (reinterpret_cast<std::uintptr_t>(probe) + kHuge - 1) & ~(kHuge - 1);
  std::free(probe);
  mallopt(M_TOP_PAD, 128 << 10);  // glibc's default
  const auto top = reinterpret_cast<std::uintptr_t>(sbrk(0));
  if (probe && top > from && top - from <= kSpan + kHuge) {
    madvise(reinterpret_cast<void*>(from), top - from, MADV_HUGEPAGE);
  }
}
}  // namespace

int main(int argc, char** argv) {
  PrepareHeap();
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "error: scenehost: " << e.what() << '\n';
  }
  return kFailed;
}
