#include "script_words.h"

#include <charconv>
#include <climits>

namespace scenehost {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// [+-]digits
bool IsWholeNumber(const std::string& w) {
  std::size_t i = (!w.empty() && (w[0] == '+' || w[0] == '-')) ? 1 : 0;
  if (i == w.size()) return false;
  for (; i < w.size(); ++i) {
    if (!IsDigit(w[i])) return false;
  }
  return true;
}

// [+-](digits[.digits] | .digits)[(e|E)[+-]digits]; no inf, nan or hex.
bool IsDecimalNumber(const std::string& w) {
  std::size_t i = (!w.empty() && (w[0] == '+' || w[0] == '-')) ? 1 : 0;
  std::size_t mantissaDigits = 0;
  while (i < w.size() && IsDigit(w[i])) ++i, ++mantissaDigits;
  if (i < w.size() && w[i] == '.') {
    ++i;
    while (i < w.size() && IsDigit(w[i])) ++i, ++mantissaDigits;
  }
  if (mantissaDigits == 0) return false;
  if (i < w.size() && (w[i] == 'e' || w[i] == 'E')) {
    ++i;
    if (i < w.size() && (w[i] == '+' || w[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < w.size() && IsDigit(w[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == w.size();
}

// from_chars takes no leading '+'.
const char* NumberStart(const std::string& w) { return w.data() + (w[0] == '+' ? 1 : 0); }

bool ToDouble(const std::string& w, double& out) {
  const char* end = w.data() + w.size();
  auto [ptr, ec] = std::from_chars(NumberStart(w), end, out);
  return ec == std::errc() && ptr == end;
}

}  // namespace

XSI::CValue ParseWord(const std::string& word) {
  if (word == "true") return XSI::CValue(true);
  if (word == "false") return XSI::CValue(false);
  if (IsWholeNumber(word)) {
    long long whole = 0;
    const char* end = word.data() + word.size();
    auto [ptr, ec] = std::from_chars(NumberStart(word), end, whole);
    if (ec == std::errc() && ptr == end && whole >= INT_MIN && whole <= INT_MAX) {
      return XSI::CValue(static_cast<int>(whole));
    }
  }
  double number = 0.0;
  if ((IsWholeNumber(word) || IsDecimalNumber(word)) && ToDouble(word, number)) {
    return XSI::CValue(number);
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
