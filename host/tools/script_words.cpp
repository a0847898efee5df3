#include "script_words.h"

#include <climits>

namespace scenehost {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

// A word is a number by the host's one grammar (XSI::ReadNumber); a quoted
// word with blanks around stays the text it is.
XSI::CValue ParseWord(const std::string& word) {
  if (word == "true") return XSI::CValue(true);
  if (word == "false") return XSI::CValue(false);
  if (!word.empty() && !IsBlank(word.front()) && !IsBlank(word.back())) {
    long long whole = 0;
    if (XSI::ReadWholeNumber(std::string_view(word), whole) == XSI::NumberText::Ok && whole >= INT_MIN &&
        whole <= INT_MAX) {
      return XSI::CValue(static_cast<int>(whole));
    }
    double number = 0.0;
    if (XSI::ReadNumber(std::string_view(word), number) == XSI::NumberText::Ok) return XSI::CValue(number);
  }
  return XSI::CValue(XSI::CString::FromUtf8(word));
}

SplitResult SplitWords(std::string_view line) {
  SplitResult result;
  if (line.size() > kMaxLineBytes) {
    result.error = "the line is " + std::to_string(line.size()) +
                   " bytes long; a line may hold at most " + std::to_string(kMaxLineBytes);
    return result;
  }
  if (const std::size_t nul = line.find('\0'); nul != std::string_view::npos) {
    result.error =
        "the line holds a NUL byte (column " + std::to_string(nul + 1) + "); a script is text";
    return result;
  }
  std::string word;
  bool inWord = false;  // a word has started, even if it is still empty ('')
  std::size_t i = 0;
  auto finish = [&] {
    if (inWord) result.words.push_back(word);
    word.clear();
    inWord = false;
  };
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      finish();
      ++i;
    } else if (c == '#' && !inWord) {
      break;
    } else if (c == '\\') {
      if (i + 1 == line.size()) {
        result.error = "backslash at the end of the line";
        return result;
      }
      word += line[i + 1];
      inWord = true;
      i += 2;
    } else if (c == '\'') {
      const std::size_t close = line.find('\'', i + 1);
      if (close == std::string::npos) {
        result.error = "unterminated single quote";
        return result;
      }
      word.append(line, i + 1, close - i - 1);
      inWord = true;
      i = close + 1;
    } else if (c == '"') {
      inWord = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char d = line[i];
        if (d == '"') {
          closed = true;
          ++i;
          break;
        }
        const bool escape = d == '\\' && i + 1 < line.size();
        const char next = escape ? line[i + 1] : '\0';
        if (escape && (next == '\\' || next == '"' || next == '$' || next == '`')) {
          word += next;
          i += 2;
        } else {
          word += d;
          ++i;
        }
      }
      if (!closed) {
        result.error = "unterminated double quote";
        return result;
      }
    } else {
      word += c;
      inWord = true;
      ++i;
    }
  }
  finish();
  return result;
}

ScriptReader::ScriptReader(std::string_view text) : text_(text) {
  // Editors on some systems start UTF-8 files with a byte-order mark.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text_.substr(0, kByteOrderMark.size()) == kByteOrderMark) at_ = kByteOrderMark.size();
}

bool ScriptReader::Next(ScriptLine& line) {
  while (Ok() && at_ < text_.size()) {
    std::size_t end = text_.find('\n', at_);
    if (end == std::string_view::npos) end = text_.size();
    ++number_;
    SplitResult split = SplitWords(text_.substr(at_, end - at_));
    at_ = end + 1;
    if (!split.Ok()) {
      errorLine_ = number_;
      error_ = std::move(split.error);
      return false;
    }
    if (split.words.empty()) continue;
    line.number = number_;
    line.words = std::move(split.words);
    return true;
  }
  return false;
}

ScriptResult SplitScript(std::string_view text) {
  ScriptResult result;
  ScriptReader reader(text);
  ScriptLine line;
  while (reader.Next(line)) result.lines.push_back(std::move(line));
  result.errorLine = reader.ErrorLine();
  result.error = reader.Error();
  return result;
}

}  // namespace scenehost
