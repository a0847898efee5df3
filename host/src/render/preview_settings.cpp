#include "preview_settings.h"

#include <cctype>

namespace host::render {

namespace {

std::string Shown(const std::string& text) {
  constexpr std::size_t kShown = 60;
  std::string out;
  for (unsigned char c : text.substr(0, kShown)) out += std::isprint(c) ? static_cast<char>(c) : '?';
  if (text.size() > kShown) out += "...";
  return "'" + out + "'";
}

// Digits only: no sign, no spaces, at most a few of them (no overflow).
bool ParseSide(const std::string& digits, long long& value) {
  if (digits.empty() || digits.size() > 9) return false;
  value = 0;
  for (unsigned char c : digits) {
    if (!std::isdigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

}  // namespace

std::string SideProblem(const char* what, long long value) {
  if (value >= 1 && value <= kMaxPreviewSide) return {};
  return SideRangeProblem(what, std::to_string(value));
}

std::string SideRangeProblem(const char* what, const std::string& shown) {
  return std::string(what) + " " + shown + " is not a picture size (1 to " +
         std::to_string(kMaxPreviewSide) + " pixels)";
}

bool ParsePreviewSize(const std::string& text, int& width, int& height, std::string& error) {
  const std::size_t x = text.find_first_of("xX");
  long long w = 0, h = 0;
  if (x == std::string::npos || !ParseSide(text.substr(0, x), w) || !ParseSide(text.substr(x + 1), h)) {
    error = "preview size " + Shown(text) + " is not WIDTHxHEIGHT in pixels (e.g. 800x600)";
    return false;
  }
  std::string problem = SideProblem("width", w);
  if (problem.empty()) problem = SideProblem("height", h);
  if (!problem.empty()) {
    error = "preview size " + Shown(text) + ": " + problem;
    return false;
  }
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

bool ParsePreviewView(const std::string& text, View& view, std::string& error) {
  if (ParseView(text, view)) return true;
  error = "unknown view " + Shown(text) + " (the views are " + ViewNames() + ")";
  return false;
}

}  // namespace host::render
