// The bundled example town: every building inside its lot's bounding box
// (found here by our own fill over the map's exact colours), standing on the
// terrain at its centre, and as many buildings as lots found minus skipped.
#include <cmath>
#include <map>
#include <cstring>
#include <regex>

#include "city_test_util.h"
#include "image_data.h"

namespace {

struct Box {
  int c0, r0, c1, r1;
};

// The 4-connected region of `start`'s exact colour, rows from the top.
Box RegionBox(const XSI::detail::ImageData& img, int column, int row) {
  const int w = img.width, h = img.height, ch = img.channels;
  // Stored rows run bottom up.
  auto at = [&](int c, int r) { return img.Row(h - 1 - r) + std::size_t(c) * ch; };
  auto colour = [&](int c, int r) { return std::memcmp(at(c, r), at(column, row), 3) == 0; };
  std::vector<char> seen(std::size_t(w) * h, 0);
  std::vector<std::pair<int, int>> work{{column, row}};
  seen[std::size_t(row) * w + column] = 1;
  Box b{column, row, column, row};
  while (!work.empty()) {
    auto [c, r] = work.back();
    work.pop_back();
    b = Box{std::min(b.c0, c), std::min(b.r0, r), std::max(b.c1, c), std::max(b.r1, r)};
    const int nc[4] = {c - 1, c + 1, c, c}, nr[4] = {r, r, r - 1, r + 1};
    for (int k = 0; k < 4; ++k) {
      if (nc[k] < 0 || nr[k] < 0 || nc[k] >= w || nr[k] >= h) continue;
      char& s = seen[std::size_t(nr[k]) * w + nc[k]];
      if (s || !colour(nc[k], nr[k])) continue;
      s = 1;
      work.push_back({nc[k], nr[k]});
    }
  }
  return b;
}

TEST(BundledTown, EveryBuildingStandsOnItsLotAndTheTerrain) {
  ct::LoadPlugins();
  host::Runtime& rt = host::Runtime::Get();
  rt.ResetScene();
  testsupport::TempDir dir("city-town");
  testsupport::WorkingDir cwd(dir.path());
  const ct::Run run = ct::RaiseCity(XSI_SOURCE_DIR "/examples/city/town.json");
  ASSERT_TRUE(run.status.Succeeded()) << ct::LastError();
  const long raised = run.out.GetAsInt();
  EXPECT_GT(raised, 100);
  EXPECT_EQ(rt.GetScene().Count(), std::size_t(raised) + 1);

  // Lots found minus lots skipped, from the run's own log lines.
  long found = 0, skipped = 0;
  const std::regex line(R"(RaiseCity: zone '.*': (\d+) lot\(s\), \d+ raised, (\d+) skipped.*)");
  for (const auto& e : rt.GetJournal().Entries()) {
    std::smatch m;
    const std::string text = e.name.GetUtf8String();
    if (e.kind == host::JournalEntry::Log && std::regex_match(text, m, line))
      found += std::stol(m[1]), skipped += std::stol(m[2]);
  }
  EXPECT_EQ(raised, found - skipped);

  std::string error;
  auto map = host::LoadImageFile(XSI_SOURCE_DIR "/examples/images/map.bmp", error);
  ASSERT_TRUE(map) << error;
  const double scale = 2;
  const int w = map->width, h = map->height;
  auto terrain = rt.GetScene().Find(L"terrain")->geometry.Snapshot();
  ASSERT_EQ(terrain->VertexCount(), std::size_t(w) * h);  // step 1 below 1024 pixels
  for (host::SceneObject* o : rt.GetScene().Objects()) {
    if (o->name == L"terrain") continue;
    const std::string name = o->name.GetUtf8String();
    const host::Bounds b = ct::WorldBounds(o->name.GetWideString());
    const double cx = (b.min.x + b.max.x) / 2, cz = (b.min.z + b.max.z) / 2;
    const int column = int(std::floor(cx / scale + w / 2.0)), row = int(std::floor(cz / scale + h / 2.0));
    const Box box = RegionBox(*map, column, row);
    const double eps = 1e-3;
    EXPECT_GE(b.min.x, (box.c0 - w / 2.0) * scale - eps) << name;
    EXPECT_LE(b.max.x, (box.c1 + 1 - w / 2.0) * scale + eps) << name;
    EXPECT_GE(b.min.z, (box.r0 - h / 2.0) * scale - eps) << name;
    EXPECT_LE(b.max.z, (box.r1 + 1 - h / 2.0) * scale + eps) << name;
    // The terrain vertex of the centre pixel: the building's lowest point.
    EXPECT_NEAR(b.min.y, terrain->positions[std::size_t(row) * w + column].y, 1e-3) << name;
    EXPECT_NEAR(terrain->positions[std::size_t(row) * w + column].x, cx, 1e-3) << name;
  }
}

}  // namespace
