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
// end of the line is an error.
#pragma once

#include <string>
#include <vector>

#include <xsi_value.h>

namespace scenehost {

XSI::CValue ParseWord(const std::string& word);

struct SplitResult {
  std::vector<std::string> words;
  std::string error;  // empty when the line was well formed
  bool Ok() const { return error.empty(); }
};
SplitResult SplitWords(const std::string& line);

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
// Splits a whole script; stops at the first malformed line.
ScriptResult SplitScript(const std::string& text);

}  // namespace scenehost
