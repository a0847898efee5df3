#include "region_lots.h"

#include <algorithm>

namespace city {
namespace {

// findSpots' centre: the count rounded to single precision, the division in
// double, truncated.
long CentreOf(std::int64_t sum, std::int64_t count) {
  const float c = static_cast<float>(count);
  return static_cast<long>(static_cast<double>(sum) / static_cast<double>(c));
}

struct Region {
  std::int64_t count = 0, columnSum = 0, rowFromBottomSum = 0;
  long inArea = 0;
  bool touchesCut = false;
  PixelBox box{1L << 40, -1, 1L << 40, -1};
};

}  // namespace

std::vector<std::uint8_t> ClassifyWindow(const XSI::Image& window, const ColourRange& range) {
  const long w = window.GetResX(), h = window.GetResY();
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
  XSI::CColor c;
  for (long y = 0; y < h; ++y) {
    // The pixel store's row y counts from the bottom.
    std::uint8_t* row = mask.data() + static_cast<std::size_t>(h - 1 - y) * static_cast<std::size_t>(w);
    for (long x = 0; x < w; ++x)
      if (window.GetPixelValue(static_cast<float>(x), static_cast<float>(y), c).Succeeded())
        row[x] = range.Contains(c.r, c.g, c.b) ? 1 : 0;
  }
  return mask;
}

bool LabelLots(const std::vector<std::uint8_t>& mask, const PixelRect& window, const PixelRect& area, long mapWidth,
               long mapHeight, long minPixels, std::vector<RegionLot>& lots, long& rings, WideLot& wide) {
  const long w = window.width, h = window.height;
  // A window side cuts lots when the map goes on beyond it.
  const bool cutLeft = window.x > 0, cutTop = window.y > 0;
  const bool cutRight = window.Right() < mapWidth, cutBottom = window.Bottom() < mapHeight;
  std::vector<std::int32_t> label(mask.size(), -1);
  std::vector<std::uint32_t> stack;
  std::int32_t next = 0;
  for (long y0 = 0; y0 < h; ++y0) {
    for (long x0 = 0; x0 < w; ++x0) {
      const std::size_t start = static_cast<std::size_t>(y0) * w + x0;
      if (!mask[start] || label[start] >= 0) continue;
      const std::int32_t id = next++;
      Region r;
      label[start] = id;
      stack.assign(1, static_cast<std::uint32_t>(start));
      while (!stack.empty()) {
        const std::size_t at = stack.back();
        stack.pop_back();
        const long x = static_cast<long>(at % w), y = static_cast<long>(at / w);
        const long column = window.x + x, row = window.y + y;
        ++r.count;
        r.columnSum += column;
        r.rowFromBottomSum += mapHeight - 1 - row;
        if (area.Contains(column, row)) ++r.inArea;
        r.box.minColumn = std::min(r.box.minColumn, column), r.box.maxColumn = std::max(r.box.maxColumn, column);
        r.box.minRow = std::min(r.box.minRow, row), r.box.maxRow = std::max(r.box.maxRow, row);
        if ((x == 0 && cutLeft) || (y == 0 && cutTop) || (x == w - 1 && cutRight) || (y == h - 1 && cutBottom))
          r.touchesCut = true;
        const long nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
        for (int k = 0; k < 4; ++k) {
          if (nx[k] < 0 || ny[k] < 0 || nx[k] >= w || ny[k] >= h) continue;
          const std::size_t n = static_cast<std::size_t>(ny[k]) * w + nx[k];
          if (!mask[n] || label[n] >= 0) continue;
          label[n] = id;
          stack.push_back(static_cast<std::uint32_t>(n));
        }
      }
      if (r.touchesCut && r.inArea > 0) {
        wide.found = true;
        wide.box = r.box;
        return false;
      }
      if (r.count < minPixels) continue;
      RegionLot lot;
      lot.column = CentreOf(r.columnSum, r.count);
      lot.rowFromTop = mapHeight - 1 - CentreOf(r.rowFromBottomSum, r.count);
      if (!area.Contains(lot.column, lot.rowFromTop)) continue;
      lot.pixels = static_cast<long>(r.count);
      lot.box = r.box;
      const long cx = lot.column - window.x, cy = lot.rowFromTop - window.y;
      if (label[static_cast<std::size_t>(cy) * w + cx] != id) {
        ++rings;
        continue;
      }
      lots.push_back(lot);
    }
  }
  return true;
}

}  // namespace city
