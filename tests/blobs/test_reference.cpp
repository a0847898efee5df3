// Random pictures through the plug-in, compared with a plain reference
// written here from the command's rules: per-pixel classification, a
// breadth-first labelling of every pixel with true 4-connectivity, a list of
// kept pixels measured blob by blob, the outline raster and the bitmap bytes
// built field by field. Same blobs, same order, same numbers, same file.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "blob_test_support.h"

using namespace blobtest;

namespace {

struct Settings {
  bool useRGB = true;
  float centre[3] = {0, 0, 0};
  float half[3] = {0, 0, 0};
  float lumValue = 0, lumRange = 0;
  int minBlobSize = 0;
  bool withElevation = false;
};

bool Foreground(const Settings& s, double r, double g, double b) {
  if (s.useRGB) {
    const double c[3] = {r, g, b};
    for (int i = 0; i < 3; ++i) {
      if (!(static_cast<double>(s.centre[i]) - static_cast<double>(s.half[i]) <= c[i])) return false;
      if (!(static_cast<double>(s.half[i]) + static_cast<double>(s.centre[i]) >= c[i])) return false;
    }
    return true;
  }
  double sum = static_cast<double>(0.71516f) * g + static_cast<double>(0.212671f) * r;
  sum = sum + static_cast<double>(0.072169f) * b;
  const float l = static_cast<float>(static_cast<double>(static_cast<float>(sum)) / 3.0);
  return static_cast<double>(s.lumValue) - static_cast<double>(s.lumRange) <= l &&
         l <= static_cast<double>(s.lumValue) + static_cast<double>(s.lumRange);
}

int Trunc255(double v) { return static_cast<int>(v * 255.0); }

struct Expected {
  std::string text;
  std::vector<std::uint8_t> bitmap;
};

Expected Reference(const Picture& img, const Picture* elevation, const Settings& s) {
  const int w = img.width, h = img.height;
  std::vector<std::uint8_t> raster(static_cast<std::size_t>(w) * h * 3, 0);
  std::vector<int> labelMap(static_cast<std::size_t>(w) * h, 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* p = img.At(x, y);
      const double r = p[0] / 255.0, g = p[1] / 255.0, b = p[2] / 255.0;
      if (!Foreground(s, r, g, b)) continue;
      labelMap[y * w + x] = 0;
      std::uint8_t* o = &raster[(static_cast<std::size_t>(y) * w + x) * 3];
      o[0] = static_cast<std::uint8_t>(Trunc255(b));
      o[1] = static_cast<std::uint8_t>(Trunc255(g));
      o[2] = static_cast<std::uint8_t>(Trunc255(r));
    }

  struct Entry {
    int column, row, blob;
  };
  std::vector<Entry> kept;
  int blobCount = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (labelMap[y * w + x] != 0) continue;
      std::vector<Entry> region;
      std::deque<std::pair<int, int>> queue{{x, y}};
      labelMap[y * w + x] = 2;
      while (!queue.empty()) {
        const auto [c, r] = queue.front();
        queue.pop_front();
        region.push_back({c, r, blobCount});
        const int nc[4] = {c - 1, c, c + 1, c};
        const int nr[4] = {r, r - 1, r, r + 1};
        for (int k = 0; k < 4; ++k) {
          if (nc[k] < 0 || nr[k] < 0 || nc[k] >= w || nr[k] >= h) continue;
          if (labelMap[nr[k] * w + nc[k]] != 0) continue;
          labelMap[nr[k] * w + nc[k]] = 2;
          queue.push_back({nc[k], nr[k]});
        }
      }
      if (static_cast<int>(region.size()) > s.minBlobSize) {
        kept.insert(kept.end(), region.begin(), region.end());
        ++blobCount;
      }
    }

  Expected e;
  auto put = [&](int x, int y) {
    std::uint8_t* o = &raster[(static_cast<std::size_t>(y) * w + x) * 3];
    o[0] = 0;
    o[1] = 255;
    o[2] = 0;
  };
  for (int b = 0; b < blobCount; ++b) {
    int minC = w, maxC = 0, minR = h, maxR = 0, count = 0;
    long long sumC = 0, sumR = 0;
    for (const Entry& p : kept) {
      if (p.blob != b) continue;
      ++count;
      if (p.column < minC) minC = p.column;
      if (p.column > maxC) maxC = p.column;
      if (p.row < minR) minR = p.row;
      if (p.row > maxR) maxR = p.row;
      sumC += p.column;
      sumR += p.row;
    }
    const int cx = static_cast<int>(static_cast<double>(sumC) / static_cast<float>(count));
    const int cy = static_cast<int>(static_cast<double>(sumR) / static_cast<float>(count));
    int elev = 1;
    if (s.withElevation) elev = Trunc255(elevation->At(cx, cy)[0] / 255.0);
    const int bw = maxC - minC, bh = maxR - minR;
    e.text += std::to_string(b) + "," + std::to_string(cx) + "," + std::to_string(cy) + "," +
              std::to_string(bw) + "," + std::to_string(bh) + "," + std::to_string(elev) + "#";
    for (int i = 0; i < bh; ++i) {
      put(minC, minR + i);
      put(minC + bw, minR + i);
    }
    for (int i = 0; i < bw; ++i) {
      put(minC + i, minR);
      put(minC + i, minR + bh);
    }
  }

  const std::uint32_t row = static_cast<std::uint32_t>((w * 3 + 3) / 4 * 4);
  const std::uint32_t data = row * static_cast<std::uint32_t>(h);
  auto u16 = [&](std::uint32_t v) {
    e.bitmap.push_back(static_cast<std::uint8_t>(v));
    e.bitmap.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  auto u32 = [&](std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  u16(0x4D42), u32(54 + data), u16(0), u16(0), u32(54);
  u32(40), u32(w), u32(h), u16(1), u16(24), u32(0), u32(data), u32(0), u32(0), u32(64), u32(0);
  for (int y = 0; y < h; ++y) {
    e.bitmap.insert(e.bitmap.end(), raster.begin() + static_cast<std::ptrdiff_t>(y) * w * 3,
                    raster.begin() + static_cast<std::ptrdiff_t>(y + 1) * w * 3);
    e.bitmap.insert(e.bitmap.end(), row - w * 3, 0);
  }
  return e;
}

// A few colours in clumps, so regions of many shapes and sizes appear.
Picture RandomPicture(std::mt19937& rng, int w, int h, double density) {
  static const std::uint8_t palette[4][3] = {{200, 40, 40}, {40, 200, 40}, {255, 255, 255}, {128, 128, 0}};
  std::uniform_real_distribution<double> unit(0, 1);
  std::uniform_int_distribution<int> pick(0, 3);
  Picture p(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // Neighbours copy each other now and then, which makes clumps.
      if (x > 0 && unit(rng) < 0.4) {
        const std::uint8_t* left = p.At(x - 1, y);
        p.Set(x, y, left[0], left[1], left[2]);
        continue;
      }
      if (y > 0 && unit(rng) < 0.3) {
        const std::uint8_t* below = p.At(x, y - 1);
        p.Set(x, y, below[0], below[1], below[2]);
        continue;
      }
      if (unit(rng) >= density) continue;
      const std::uint8_t* c = palette[pick(rng)];
      p.Set(x, y, c[0], c[1], c[2]);
    }
  return p;
}

}  // namespace

TEST(FindSpotsReference, RandomPicturesMatchTheReference) {
  EnsurePluginLoaded();
  ScratchDir dir;
  std::mt19937 rng(20240611);
  const int sizes[][2] = {{1, 1}, {1, 17}, {23, 1}, {2, 2}, {5, 7}, {16, 16}, {37, 23}, {64, 48}, {101, 3}};
  int cases = 0, blobsSeen = 0;
  for (const auto& size : sizes)
    for (int round = 0; round < 12; ++round) {
      const int w = size[0], h = size[1];
      const Picture img = RandomPicture(rng, w, h, 0.3 + 0.05 * (round % 8));
      Settings s;
      s.minBlobSize = static_cast<int>(rng() % 6) - 1;
      s.useRGB = round % 3 != 2;
      if (s.useRGB) {
        // Red-ish and white, or the green ones, or everything not black.
        const int choice = round % 3;
        const float centres[2][3] = {{0.9f, 0.5f, 0.5f}, {0.16f, 0.78f, 0.16f}};
        const float halves[2][3] = {{0.15f, 0.5f, 0.5f}, {0.01f, 0.01f, 0.01f}};
        for (int i = 0; i < 3; ++i) {
          s.centre[i] = centres[choice][i];
          s.half[i] = halves[choice][i];
        }
      } else {
        s.lumValue = 0.2f;
        s.lumRange = 0.15f;
      }
      s.withElevation = round % 4 == 1;
      Picture elevation = RandomPicture(rng, w, h, 1.0);

      WriteBmp(img, dir.File("rnd.bmp"));
      if (s.withElevation) WriteBmp(elevation, dir.File("rnd_elevation.bmp"));
      Args a;
      a.imagesPath = dir.Prefix();
      a.imageName = "rnd";
      a.minBlobSize = s.minBlobSize;
      a.useRGB = s.useRGB;
      a.red = s.centre[0], a.green = s.centre[1], a.blue = s.centre[2];
      a.rangeR = s.half[0], a.rangeG = s.half[1], a.rangeB = s.half[2];
      a.luminanceValue = s.lumValue, a.luminanceRange = s.lumRange;
      a.withElevation = s.withElevation;
      const RunResult r = RunFindSpots(a);
      ASSERT_TRUE(r.status.Succeeded()) << r.LogText();

      const Expected e = Reference(img, s.withElevation ? &elevation : nullptr, s);
      ASSERT_EQ(r.Text(), e.text) << w << "x" << h << " round " << round;
      ASSERT_EQ(ReadBytes(dir.File("blobs.bmp")), e.bitmap) << w << "x" << h << " round " << round;
      ++cases;
      for (char c : e.text) blobsSeen += c == '#';
    }
  EXPECT_EQ(cases, 9 * 12);
  // The pictures must actually exercise the labelling.
  EXPECT_GT(blobsSeen, 500);
}
