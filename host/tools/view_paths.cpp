#include "view_paths.h"

#include <cctype>
#include <cstring>

namespace scenehost::view {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

TargetCheck Refused(int status, std::string reason) {
  TargetCheck check;
  check.status = status;
  check.reason = std::move(reason);
  return check;
}

// Percent-decodes one level of the path. '+' stays '+': it means a space
// only in a query.
bool DecodeSegment(const std::string& raw, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '%') {
      out += raw[i];
      continue;
    }
    if (i + 2 >= raw.size()) return false;
    const int hi = HexValue(raw[i + 1]), lo = HexValue(raw[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

}  // namespace

TargetCheck CheckRequestTarget(const std::string& target) {
  if (target.empty() || target[0] != '/') {
    return Refused(400, "the request target is not a path starting with '/'");
  }
  std::string path = target.substr(0, target.find_first_of("?#"));
  TargetCheck check;
  if (path == "/") {
    check.ok = true;
    check.status = 200;
    return check;
  }
  if (path.back() == '/') return Refused(404, "folders are not listed");
  std::size_t start = 1;
  std::string name;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const std::string raw = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (raw.empty()) return Refused(400, "the path has an empty level ('//')");
    if (!DecodeSegment(raw, name)) return Refused(400, "the path has a '%' not followed by two hex digits");
    if (name.empty() || name[0] == '.') {
      return Refused(400, "the path has a level starting with '.' (\"..\", \".\" or a hidden file)");
    }
    for (const char c : name) {
      const auto u = static_cast<unsigned char>(c);
      if (c == '/' || c == '\\') return Refused(400, "the path has an encoded '/' or a '\\'");
      if (u < 0x20 || u == 0x7f) return Refused(400, "the path has a control byte");
    }
    check.segments.push_back(name);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  check.ok = true;
  check.status = 200;
  return check;
}

const char* MimeTypeFor(const std::string& name) {
  static const struct {
    const char* ext;
    const char* type;
  } kTypes[] = {
      {".glb", "model/gltf-binary"},
      {".gltf", "model/gltf+json"},
      {".json", "application/json"},
      {".js", "text/javascript"},
      {".mjs", "text/javascript"},
      {".html", "text/html; charset=utf-8"},
      {".css", "text/css"},
      {".png", "image/png"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".webp", "image/webp"},
      {".ktx2", "image/ktx2"},
      {".wasm", "application/wasm"},
      {".txt", "text/plain; charset=utf-8"},
  };
  std::string lower;
  lower.reserve(name.size());
  for (const char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const auto& t : kTypes) {
    const std::size_t n = std::strlen(t.ext);
    if (lower.size() > n && lower.compare(lower.size() - n, n, t.ext) == 0) return t.type;
  }
  return "application/octet-stream";
}

}  // namespace scenehost::view
