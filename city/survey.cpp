#include "survey.h"

#include <algorithm>

namespace city {

float ChannelCentre(int value) { return static_cast<float>(value / 255.0); }
float ChannelHalfWidth(int value) { return static_cast<float>(value / 255.0); }

ColourRange RangeOf(const Zone& zone) {
  ColourRange r;
  for (int i = 0; i < 3; ++i) {
    const double centre = ChannelCentre(zone.rgb[i]), half = ChannelHalfWidth(zone.range[i]);
    r.low[i] = centre - half;
    r.high[i] = half + centre;
  }
  return r;
}

LotFinder::LotFinder(const XSI::Image& map, const ColourRange& range)
    : map_(map), range_(range), width_(map.GetResX()), height_(map.GetResY()) {}

bool LotFinder::Inside(long x, long y) const {
  XSI::CColor c;
  if (!map_.GetPixelValue(static_cast<float>(x), static_cast<float>(y), c).Succeeded()) return false;
  return range_.Contains(c.r, c.g, c.b);
}

bool LotFinder::BoxOf(const Lot& lot, PixelBox& box) {
  const long x0 = lot.centreX, y0 = lot.centreY;
  if (x0 < 0 || y0 < 0 || x0 >= width_ || y0 >= height_ || !Inside(x0, y0)) return false;
  // Each lot is filled once; a pixel already filled belongs to another lot.
  if (seen_.empty()) seen_.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), 0);
  const auto index = [&](long x, long y) { return static_cast<std::size_t>(y) * width_ + x; };
  if (seen_[index(x0, y0)]) return false;
  long minX = x0, maxX = x0, minY = y0, maxY = y0;
  work_.clear();
  work_.push_back(static_cast<std::uint32_t>(index(x0, y0)));
  seen_[index(x0, y0)] = 1;
  while (!work_.empty()) {
    const std::size_t at = work_.back();
    work_.pop_back();
    const long x = static_cast<long>(at % width_), y = static_cast<long>(at / width_);
    minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
    const long nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
    for (int k = 0; k < 4; ++k) {
      if (nx[k] < 0 || ny[k] < 0 || nx[k] >= width_ || ny[k] >= height_) continue;
      const std::size_t n = index(nx[k], ny[k]);
      if (seen_[n] || !Inside(nx[k], ny[k])) continue;
      seen_[n] = 1;
      work_.push_back(static_cast<std::uint32_t>(n));
    }
  }
  if (maxX - minX != lot.width || maxY - minY != lot.height) return false;
  box.minColumn = minX;
  box.maxColumn = maxX;
  box.minRow = height_ - 1 - maxY;
  box.maxRow = height_ - 1 - minY;
  return true;
}

}  // namespace city
