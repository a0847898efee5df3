#include "blob_test_support.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#define STB_IMAGE_STATIC
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include "plugin_loader.h"
#include "rgb_bmp.h"
#include "runtime.h"

namespace blobtest {

namespace fs = std::filesystem;

Picture::Picture(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b)
    : width(w), height(h), rgb(static_cast<std::size_t>(w) * h * 3) {
  for (std::size_t i = 0; i < rgb.size(); i += 3) {
    rgb[i] = r;
    rgb[i + 1] = g;
    rgb[i + 2] = b;
  }
}

void Picture::Set(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
  p[0] = r;
  p[1] = g;
  p[2] = b;
}

Picture FromRows(const std::vector<std::string>& topFirst) {
  const int h = static_cast<int>(topFirst.size());
  const int w = h == 0 ? 0 : static_cast<int>(topFirst[0].size());
  Picture p(w, h);
  for (int row = 0; row < h; ++row) {
    const int y = h - 1 - row;
    for (int x = 0; x < w; ++x) {
      const char c = topFirst[row][x];
      if (c == '#') p.Set(x, y, 255, 255, 255);
      else if (c == 'r') p.Set(x, y, 255, 0, 0);
      else if (c == 'g') p.Set(x, y, 0, 255, 0);
      else if (c == 'b') p.Set(x, y, 0, 0, 255);
    }
  }
  return p;
}

void WriteBmp(const Picture& p, const std::string& path) {
  const findspots::BmpWriteResult r = WriteRgbBmp(p.rgb, p.width, p.height, path);
  if (!r.ok) throw std::runtime_error("cannot write test image " + path + ": " + r.reason);
}

void WritePng(const Picture& p, const std::string& path) {
  // PNG rows run top-down: the host's top row is y = height - 1.
  std::vector<std::uint8_t> top(p.rgb.size());
  const std::size_t stride = static_cast<std::size_t>(p.width) * 3;
  for (int y = 0; y < p.height; ++y)
    std::memcpy(top.data() + (p.height - 1 - y) * stride, p.rgb.data() + y * stride, stride);
  if (!stbi_write_png(path.c_str(), p.width, p.height, 3, top.data(), static_cast<int>(stride)))
    throw std::runtime_error("cannot write test image " + path);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) { return fs::exists(path); }

namespace {

std::unique_ptr<host::PluginManager>& Manager() {
  // The runtime is built first so that it outlives the manager at exit.
  host::Runtime::Get();
  static std::unique_ptr<host::PluginManager> pm;
  return pm;
}

}  // namespace

void EnsurePluginLoaded() {
  auto& pm = Manager();
  if (!pm) pm = std::make_unique<host::PluginManager>(host::Runtime::Get());
  if (pm->LoadedPaths().empty()) {
    const XSI::CStatus st = pm->Load(XSI_BINARY_DIR "/plugins/findSpots.so");
    if (!st.Succeeded()) throw std::runtime_error("cannot load the findSpots plug-in");
  }
  host::Runtime::Get().ResetScene();
}

void UnloadPlugin() {
  if (Manager()) Manager()->UnloadAll();
}

bool RunResult::Logged(const std::string& part, int severity) const {
  for (const LogLine& l : log)
    if (l.severity == severity && l.text.find(part) != std::string::npos) return true;
  return false;
}

std::string RunResult::LogText() const {
  std::string all;
  for (const LogLine& l : log) all += "[" + std::to_string(l.severity) + "] " + l.text + "\n";
  return all;
}

RunResult RunCommand(const std::wstring& name, const XSI::CValueArray& args) {
  RunResult r;
  host::Runtime& rt = host::Runtime::Get();
  const int sink = rt.AddLogSink([&r](const XSI::CString& text, int severity) {
    r.log.push_back(LogLine{text.GetUtf8String(), severity});
  });
  r.status = XSI::Application().ExecuteCommand(name.c_str(), args, r.out);
  rt.RemoveLogSink(sink);
  return r;
}

RunResult RunFindSpots(const Args& a) {
  XSI::CValueArray args;
  args.Add(XSI::CValue(XSI::CString::FromUtf8(a.imagesPath)));
  args.Add(XSI::CValue(XSI::CString::FromUtf8(a.imageName)));
  for (const XSI::CValue* v : {&a.minBlobSize, &a.useRGB, &a.red, &a.green, &a.blue, &a.rangeR,
                               &a.rangeG, &a.rangeB, &a.luminanceValue, &a.luminanceRange,
                               &a.withElevation})
    args.Add(*v);
  return RunCommand(L"findSpots", args);
}

Picture DecodeWithStb(const std::vector<std::uint8_t>& file) {
  int w = 0, h = 0, n = 0;
  stbi_uc* data = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &n, 3);
  if (!data) return Picture();
  Picture p(w, h);
  // stb hands rows top-down; the picture is addressed bottom-up.
  for (int row = 0; row < h; ++row)
    std::memcpy(p.rgb.data() + static_cast<std::size_t>(h - 1 - row) * w * 3,
                data + static_cast<std::size_t>(row) * w * 3, static_cast<std::size_t>(w) * 3);
  stbi_image_free(data);
  return p;
}

}  // namespace blobtest
