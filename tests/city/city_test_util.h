// Shared helpers for the RaiseCity tests: the three plug-ins loaded into the
// real runtime, literal BMP maps written to a temporary folder, recipes, and
// a snapshot of everything a run could change (objects, clips, selection).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "mesh_ops.h"
#include "plugin_loader.h"
#include "runtime.h"
#include "temp_dir.h"
#include "xsi_plugin.h"

namespace ct {

inline const std::string kRepoHome = XSI_SOURCE_DIR "/home";

inline std::unique_ptr<host::PluginManager>& Plugins() {
  static std::unique_ptr<host::PluginManager> pm;
  return pm;
}

inline void LoadPlugins() {
  host::Runtime& runtime = host::Runtime::Get();
  runtime.SetHomePath(kRepoHome);
  auto& pm = Plugins();
  if (pm) return;
  pm = std::make_unique<host::PluginManager>(runtime);
  for (const char* name : {"RaiseTower", "findSpots", "RaiseCity"}) {
    const std::string path = std::string(XSI_BINARY_DIR "/plugins/") + name + ".so";
    ASSERT_TRUE(pm->Load(path).Succeeded()) << path;
  }
}

// RGB triples, top row first, as one reads a picture.
struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  Picture(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b) : width(w), height(h) {
    for (int i = 0; i < w * h; ++i) rgb.insert(rgb.end(), {r, g, b});
  }
  void Set(int column, int row, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    std::uint8_t* p = &rgb[(std::size_t(row) * width + column) * 3];
    p[0] = r, p[1] = g, p[2] = b;
  }
  // Columns c0..c1 and rows r0..r1 (from the top), bounds included.
  void Fill(int c0, int r0, int c1, int r1, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    for (int y = r0; y <= r1; ++y)
      for (int x = c0; x <= c1; ++x) Set(x, y, r, g, b);
  }
  void WriteBmp(const std::string& path) const {
    const int stride = (width * 3 + 3) / 4 * 4;
    const std::uint32_t dataSize = std::uint32_t(stride * height), fileSize = 54 + dataSize;
    std::vector<std::uint8_t> b(fileSize, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
      for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    put32(2, fileSize), put32(10, 54), put32(14, 40), put32(18, std::uint32_t(width));
    put32(22, std::uint32_t(height)), put32(34, dataSize);
    b[26] = 1, b[28] = 24;
    for (int row = 0; row < height; ++row) {  // stored bottom-up
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = &rgb[(std::size_t(height - 1 - row) * width + x) * 3];
        std::uint8_t* q = &b[54 + std::size_t(row) * stride + std::size_t(x) * 3];
        q[0] = p[2], q[1] = p[1], q[2] = p[0];
      }
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
  }
};

// Objects (name, position, mesh size), clips (name and path) and selection.
struct SceneState {
  std::vector<std::string> objects, clips;
  std::string selection;
  bool operator==(const SceneState& o) const {
    return objects == o.objects && clips == o.clips && selection == o.selection;
  }
};

inline SceneState Snapshot() {
  SceneState s;
  host::Runtime& rt = host::Runtime::Get();
  for (host::SceneObject* o : rt.GetScene().Objects()) {
    std::string line = o->name.GetUtf8String();
    for (double v : o->xf.pos) line += " " + std::to_string(v);
    if (auto m = o->geometry.Snapshot()) line += " v" + std::to_string(m->VertexCount());
    s.objects.push_back(line);
  }
  for (const host::ClipRecord* c : rt.Clips()) s.clips.push_back(c->name.GetUtf8String() + " " + c->path);
  s.selection = XSI::Application().GetSelection().GetAsText().GetUtf8String();
  return s;
}

inline std::vector<std::string> Errors() {
  std::vector<std::string> out;
  for (const auto& e : host::Runtime::Get().GetJournal().Entries())
    if (e.kind == host::JournalEntry::Log && e.severity == 2) out.push_back(e.name.GetUtf8String());
  return out;
}

inline std::string LastError() {
  std::vector<std::string> e = Errors();
  return e.empty() ? "" : e.back();
}

struct Run {
  XSI::CStatus status;
  XSI::CValue out;
};

inline Run RaiseCity(const std::string& recipe) {
  XSI::CValueArray a;
  a.Add(XSI::CString::FromUtf8(recipe));
  Run r;
  r.status = XSI::Application().ExecuteCommand(L"RaiseCity", a, r.out);
  return r;
}

// World bounds of a scene object's mesh.
inline host::Bounds WorldBounds(const wchar_t* name) {
  host::SceneObject* o = host::Runtime::Get().GetScene().Find(name);
  if (!o || !o->geometry.HasMesh()) return host::Bounds{};
  return host::ComputeBounds(*o->geometry.Snapshot(), o->xf);
}

}  // namespace ct
