// Words of the scenehost command line and of its script files.
//
// ParseWord turns one argument word into a value: a whole number is an int
// (a whole number too large for an int is a double), a decimal or exponent
// number a double, "true"/"false" a bool, anything else text. The word's
// content alone decides, so a script line and the same words typed in a
// shell give the same values.
//
// SplitWords cuts one script line into words the way a POSIX shell does:
// blanks separate words; 'single quotes' keep everything literally;
// "double quotes" keep everything except that a backslash escapes
// \ " $ and `; outside quotes a backslash keeps the next character
// literally; '#' at the start of a word comments out the rest of the line.
// A line never continues onto the next: an open quote or a backslash at the
// end of the line is an error, and so is a NUL byte anywhere in it (no shell
// word can hold one).
//
// A script is UTF-8 text, one command a line. A byte-order mark at its very
// start is skipped. A line may be at most kMaxLineBytes long, which bounds
// the memory one line's words take; ScriptReader walks a script holding
// one line's words at a time. Error texts are fixed phrases plus numbers:
// they never echo the script's bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <xsi_value.h>

namespace scenehost {

XSI::CValue ParseWord(const std::string& word);

struct SplitResult {
  std::vector<std::string> words;
  std::string error;  // empty when the line was well formed
  bool Ok() const { return error.empty(); }
};
SplitResult SplitWords(std::string_view line);

constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;  // 1 MiB

struct ScriptLine {
  int number = 0;  // 1-based line in the file
  std::vector<std::string> words;
};

struct ScriptResult {
  std::vector<ScriptLine> lines;  // blank and comment-only lines left out
  int errorLine = 0;              // 0 when the whole text was well formed
  std::string error;
  bool Ok() const { return error.empty(); }
};
// Reads the lines of `text`, which must outlive the reader, one at a time.
class ScriptReader {
 public:
  explicit ScriptReader(std::string_view text);
  // Fills `line` with the next line that holds words. False at the end of
  // the text or at a malformed line; then Ok() tells which.
  bool Next(ScriptLine& line);
  bool Ok() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  int ErrorLine() const { return errorLine_; }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  int number_ = 0;
  int errorLine_ = 0;
  std::string error_;
};

// Splits a whole script; stops at the first malformed line.
ScriptResult SplitScript(std::string_view text);

}  // namespace scenehost
