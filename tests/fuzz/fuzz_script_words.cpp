// Script text and argument words, as scenehost reads them from a file.
//
// Checks, for any bytes:
//  - splitting never throws, and SplitScript and ScriptReader agree;
//  - error texts are short, hold no control bytes, and name a line that
//    exists;
//  - every word that comes out reads back the same after quoting it again
//    (single quotes and double quotes), and ParseWord's value prints back
//    to the same value;
//  - ShownText of every word and of the raw text is bounded, printable and
//    well-formed UTF-8, and shows its own output unchanged.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "message_text.h"
#include "script_words.h"

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// Strict UTF-8 (RFC 3629), written apart from message_text.cpp on purpose.
bool IsWellFormedUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = b < 0x80 ? 1 : b < 0xC2 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF5 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    std::uint32_t cp = n == 1 ? b : b & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

bool HasControlByte(std::string_view s) {
  for (char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return true;
  }
  return false;
}

void CheckShown(std::string_view text, std::size_t limit) {
  const std::string shown = scenehost::ShownText(text, limit);
  Check(shown.size() <= limit + scenehost::kCutNoteBytes, "ShownText is bounded");
  Check(!HasControlByte(shown), "ShownText holds no control byte");
  Check(IsWellFormedUtf8(shown), "ShownText is well-formed UTF-8");
  Check(scenehost::ShownText(shown, shown.size()) == shown, "ShownText keeps its own output");
  if (IsWellFormedUtf8(text) && !HasControlByte(text) && text.size() <= limit) {
    Check(shown.size() >= text.size(), "printable text is not cut below the limit");
  }
}

void CheckError(const std::string& error) {
  Check(error.size() <= 200, "error text is short");
  Check(!HasControlByte(error), "error text holds no control byte");
}

std::string SingleQuoted(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string DoubleQuoted(const std::string& word) {
  std::string out = "\"";
  for (char c : word) {
    if (c == '\\' || c == '"' || c == '$' || c == '`') out += '\\';
    out += c;
  }
  return out + "\"";
}

void CheckRequoting(const std::vector<std::string>& words) {
  std::string single, dbl;
  for (const auto& w : words) {
    single += SingleQuoted(w) + " ";
    dbl += DoubleQuoted(w) + "\t";
  }
  const scenehost::SplitResult a = scenehost::SplitWords(single);
  Check(a.Ok() && a.words == words, "words read back the same in single quotes");
  const scenehost::SplitResult b = scenehost::SplitWords(dbl);
  Check(b.Ok() && b.words == words, "words read back the same in double quotes");
}

void CheckValue(const std::string& word) {
  const XSI::CValue value = scenehost::ParseWord(word);
  switch (value.GetType()) {
    case XSI::CValue::siBool:
      Check(word == (value.GetAsBool() ? "true" : "false"), "only true/false are bools");
      break;
    case XSI::CValue::siInt4: {
      const XSI::CValue again = scenehost::ParseWord(std::to_string(value.GetAsInt()));
      Check(again.GetType() == XSI::CValue::siInt4 && again.GetAsInt() == value.GetAsInt(),
            "an int prints back to the same int");
      break;
    }
    case XSI::CValue::siDouble: {
      char text[64];
      std::snprintf(text, sizeof text, "%.17g", value.GetAsDouble());
      const XSI::CValue again = scenehost::ParseWord(text);
      const double back =
          again.GetType() == XSI::CValue::siInt4 ? again.GetAsInt() : again.GetAsDouble();
      Check(again.GetType() != XSI::CValue::siString && back == value.GetAsDouble(),
            "a double prints back to the same number");
      break;
    }
    default:
      if (IsWellFormedUtf8(word)) {
        Check(value.GetAsText().GetUtf8String() == word, "well-formed text is kept as it is");
      }
  }
}

void CheckWords(const std::vector<std::string>& words) {
  CheckRequoting(words);
  for (const auto& w : words) {
    CheckValue(w);
    CheckShown(w, scenehost::kShownWordBytes);
  }
}

void CheckScript(std::string_view text) {
  const scenehost::ScriptResult whole = scenehost::SplitScript(text);
  scenehost::ScriptReader reader(text);
  scenehost::ScriptLine line;
  std::size_t count = 0;
  int lastNumber = 0;
  while (reader.Next(line)) {
    Check(count < whole.lines.size(), "the reader gives no more lines than SplitScript");
    Check(line.number == whole.lines[count].number && line.words == whole.lines[count].words,
          "the reader and SplitScript agree");
    Check(line.number > lastNumber && !line.words.empty(), "lines come in order and hold words");
    lastNumber = line.number;
    ++count;
    CheckWords(line.words);
  }
  Check(count == whole.lines.size(), "the reader gives every line");
  Check(reader.Ok() == whole.Ok() && reader.Error() == whole.error &&
            reader.ErrorLine() == whole.errorLine,
        "the reader and SplitScript stop at the same error");
  if (!whole.Ok()) {
    CheckError(whole.error);
    const std::size_t lines =
        1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    Check(whole.errorLine >= 1 && static_cast<std::size_t>(whole.errorLine) <= lines,
          "the error names a line of the text");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    CheckScript(text);
    // The whole input as one line, as a shell-like caller would pass it.
    const scenehost::SplitResult split = scenehost::SplitWords(text);
    if (split.Ok()) {
      CheckWords(split.words);
    } else {
      CheckError(split.error);
    }
    CheckShown(text, scenehost::kShownWordBytes);
    CheckShown(text, scenehost::kShownLineBytes);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "exception escaped: %s\n", e.what());
    std::abort();
  }
  return 0;
}
