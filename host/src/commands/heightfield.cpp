// The terrain grid. Built completely before the scene is touched, so a
// refused or failed run leaves nothing behind.
#include "heightfield.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwctype>

#include <xsi_names.h>

#include "command_args.h"
#include "raster_commands.h"
#include "raster_gdal.h"
#include "text.h"

namespace host {

namespace {

constexpr const wchar_t* kUsage =
    L"imagePath, objectName, sizeX, sizeZ, height and step, then optionally x, y, width, height and units "
    L"(see docs/commands.md)";
// Heights beyond this would not fit a float coordinate.
constexpr double kMaxHeight = 3.0e38;
// Extents beyond this could overflow float coordinates once combined.
constexpr double kMaxExtent = 1e30;

CString Quoted(const CString& s) { return QuoteArg(s); }

CStatus Refuse(Runtime& rt, const CString& what, CStatus code = CStatus::InvalidArgument) {
  rt.Error(L"CreateHeightField: " + what);
  return code;
}

// The one object name rule (xsi_names.h), as RaiseTower applies it too.
bool NameProblem(const CString& name, CString& problem) {
  const std::wstring why = XSI::ObjectNameProblem(name.Wide());
  if (why.empty()) return false;
  problem = name.IsEmpty() ? CString(L"the object name is empty")
                           : L"the object name " + Quoted(name) + L" " + CString(why);
  return true;
}

struct Arguments {
  std::string path;
  CString name;
  HeightFieldSize size;
  // Set when a window or units were given: the grid is read row by row.
  bool extended = false;
  bool windowed = false;
  PixelWindow window;
  bool metres = false;
};

CStatus ReadArguments(Runtime& rt, const CValueArray& args, Arguments& a) {
  if (args.GetCount() < 6) return Refuse(rt, CString(L"expects ") + kUsage);
  const CString path = args[0].GetAsText();
  if (HasNul(path)) return Refuse(rt, L"the image path holds a NUL character");
  a.path = NormalisePath(ToUtf8(path));
  if (a.path.empty()) return Refuse(rt, L"the image path is empty");
  a.name = args[1].GetAsText();
  CString problem;
  if (NameProblem(a.name, problem)) return Refuse(rt, problem);
  struct Extent {
    const wchar_t* what;
    const CValue& value;
    double& out;
    bool zeroAllowed;
  } extents[] = {{L"sizeX", args[2], a.size.sizeX, false},
                 {L"sizeZ", args[3], a.size.sizeZ, false},
                 {L"height", args[4], a.size.height, true}};
  for (const Extent& e : extents) {
    const bool ok = ReadFiniteNumber(e.value, e.out) && (e.zeroAllowed ? e.out >= 0 : e.out > 0) &&
                    e.out <= kMaxExtent;
    if (!ok)
      return Refuse(rt, CString(e.what) + L" must be a finite number " + (e.zeroAllowed ? L">= 0" : L"> 0") +
                            L" and at most 1e30, got " + Quoted(e.value.GetAsText()));
  }
  double step = 0;
  if (!ReadFiniteNumber(args[5], step) || step < 1 || step != std::floor(step) || step > 1e9)
    return Refuse(rt, L"step must be a whole number of pixels >= 1, got " + Quoted(args[5].GetAsText()));
  a.size.step = static_cast<long>(step);
  problem = CString();
  if (!ReadWindowArgs(args, 6, a.window, a.windowed, problem)) return Refuse(rt, problem);
  const bool unitsGiven = args.GetCount() > 10 && !args[10].GetAsText().IsEmpty();
  if (unitsGiven) {
    const std::string units = AsciiLower(ToUtf8(args[10].GetAsText()));
    if (units == "metres" || units == "meters") a.metres = true;
    else if (units != "levels")
      return Refuse(rt, L"units must be \"levels\" or \"metres\", got " + Quoted(args[10].GetAsText()));
  }
  a.extended = a.windowed || unitsGiven;
  return CStatus::OK;
}

std::string PixelName(std::int64_t column, std::int64_t row, const std::string& path) {
  return "pixel (column " + std::to_string(column) + ", row " + std::to_string(row) + ") of '" + path + "'";
}

// Y of a value: a 0..255 level scaled as the whole-picture grid does, or
// metres times `height`, checked to stay a float.
std::string MetresHeight(double value, double height, std::int64_t column, std::int64_t row,
                         const std::string& path, double& y) {
  y = value * height;
  if (std::isfinite(y) && std::fabs(y) <= kMaxHeight) return {};
  return PixelName(column, row, path) + " holds " + std::to_string(value) +
         ", too far from 0 for a height at this scale";
}

// The grid of a window through GDAL, one sampled row at a time.
bool BuildFromRaster(Raster& r, const Arguments& a, Mesh& mesh, std::string& error) {
  const PixelWindow w = a.windowed ? a.window : PixelWindow{0, 0, r.Width(), r.Height()};
  error = r.CheckWindow(w);
  if (!error.empty()) return false;
  if (!r.Band1TypeHandled()) {
    error = "band 1 holds " + r.Band1Type() + " values, which the host does not read";
    return false;
  }
  if (!a.metres && !r.Band1IsByte()) {
    error = "band 1 holds " + r.Band1Type() + " values; levels need 8-bit (Byte) values (use units \"metres\")";
    return false;
  }
  std::vector<std::int64_t> columns;
  std::vector<double> values;
  const auto source = [&](std::uint32_t row, const std::vector<std::uint32_t>& cols, std::vector<double>& y) {
    columns.assign(cols.begin(), cols.end());
    for (std::int64_t& c : columns) c += w.x;
    const std::int64_t absRow = w.y + row;
    std::string reason = r.ReadBand1(absRow, columns, values);
    if (!reason.empty()) return reason;
    y.resize(cols.size());
    for (std::size_t i = 0; i < cols.size(); ++i) {
      if (!a.metres) {
        // As RedLevel reads an 8-bit red sample.
        y[i] = double(int(values[i] / 255.0 * 255.0)) * a.size.height / 255.0;
        continue;
      }
      if (r.IsNoData(values[i])) return PixelName(columns[i], absRow, a.path) + " holds no data";
      reason = MetresHeight(values[i], a.size.height, columns[i], absRow, a.path, y[i]);
      if (!reason.empty()) return reason;
    }
    return std::string();
  };
  return BuildHeightField(std::uint64_t(w.width), std::uint64_t(w.height), a.size, source, mesh, error);
}

// The grid of a window of a picture decoded whole.
bool BuildFromImage(const XSI::detail::ImageData& image, const Arguments& a, Mesh& mesh, std::string& error) {
  const PixelWindow w = a.windowed ? a.window : PixelWindow{0, 0, image.width, image.height};
  if (w.x + w.width > image.width || w.y + w.height > image.height) {
    error = "the window of " + std::to_string(w.width) + " x " + std::to_string(w.height) + " pixels at (" +
            std::to_string(w.x) + ", " + std::to_string(w.y) + ") is not inside the image of " +
            std::to_string(image.width) + " x " + std::to_string(image.height) + " pixels";
    return false;
  }
  const auto source = [&](std::uint32_t row, const std::vector<std::uint32_t>& cols, std::vector<double>& y) {
    y.resize(cols.size());
    const std::uint32_t absRow = std::uint32_t(w.y) + row;
    for (std::size_t i = 0; i < cols.size(); ++i) {
      const std::uint32_t c = std::uint32_t(w.x) + cols[i];
      if (!a.metres) {
        y[i] = double(RedLevel(image, c, absRow)) * a.size.height / 255.0;
        continue;
      }
      std::string reason = MetresHeight(RedSample(image, c, absRow), a.size.height, c, absRow, a.path, y[i]);
      if (!reason.empty()) return reason;
    }
    return std::string();
  };
  return BuildHeightField(std::uint64_t(w.width), std::uint64_t(w.height), a.size, source, mesh, error);
}

struct Grid {
  std::vector<std::uint32_t> columns, rows;
  std::size_t Index(std::size_t ci, std::size_t ri) const { return ri * columns.size() + ci; }
};

// Smooth normals from the neighbouring samples (central differences, one-sided
// at the border), computed in double so large extents cannot overflow.
Vec3 GridNormal(const Mesh& m, const Grid& g, std::size_t ci, std::size_t ri) {
  const std::size_t c0 = ci == 0 ? ci : ci - 1, c1 = ci + 1 == g.columns.size() ? ci : ci + 1;
  const std::size_t r0 = ri == 0 ? ri : ri - 1, r1 = ri + 1 == g.rows.size() ? ri : ri + 1;
  const Vec3 &left = m.positions[g.Index(c0, ri)], &right = m.positions[g.Index(c1, ri)];
  const Vec3 &up = m.positions[g.Index(ci, r0)], &down = m.positions[g.Index(ci, r1)];
  // A single row or column has no extent along that axis: treat it as flat.
  const double dx = c1 > c0 ? double(right.x) - left.x : 1.0, hx = c1 > c0 ? double(right.y) - left.y : 0.0;
  const double dz = r1 > r0 ? double(down.z) - up.z : 1.0, hz = r1 > r0 ? double(down.y) - up.y : 0.0;
  // cross((0, hz, dz), (dx, hx, 0)), scaled so the products stay finite.
  const double sx = 1.0 / dx, sz = 1.0 / dz;
  const double nx = -hx * sx, ny = 1.0, nz = -hz * sz;
  const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
  return Vec3{static_cast<float>(nx / len), static_cast<float>(ny / len), static_cast<float>(nz / len)};
}

// Quads and their per-corner normals and UVs, written in place: the arrays
// are sized once, so a million-vertex grid costs no reallocation.
void AddQuads(Mesh& m, const Grid& g, const std::vector<Vec3>& normals, const std::vector<Vec2>& uvs) {
  const std::size_t nc = g.columns.size(), nr = g.rows.size();
  const std::size_t quads = (nc - 1) * (nr - 1);
  m.faceStart.resize(quads + 1);
  m.cornerVertex.resize(quads * 4);
  m.cornerNormal.resize(quads * 4);
  m.cornerUV.resize(quads * 4);
  m.faceMaterial.assign(quads, 0);
  std::size_t face = 0;
  for (std::size_t ri = 0; ri + 1 < nr; ++ri) {
    for (std::size_t ci = 0; ci + 1 < nc; ++ci, ++face) {
      // Counter-clockwise seen from above: down the picture first, then right.
      const std::size_t corner[4] = {g.Index(ci, ri), g.Index(ci, ri + 1), g.Index(ci + 1, ri + 1),
                                     g.Index(ci + 1, ri)};
      const std::size_t at = face * 4;
      m.faceStart[face] = static_cast<std::uint32_t>(at);
      for (std::size_t k = 0; k < 4; ++k) {
        m.cornerVertex[at + k] = static_cast<std::uint32_t>(corner[k]);
        m.cornerNormal[at + k] = normals[corner[k]];
        m.cornerUV[at + k] = uvs[corner[k]];
      }
    }
  }
  m.faceStart[quads] = static_cast<std::uint32_t>(quads * 4);
}

}  // namespace

std::vector<std::uint32_t> HeightFieldSamples(std::uint32_t count, long step) {
  std::vector<std::uint32_t> out;
  if (count == 0 || step < 1) return out;
  const std::uint64_t s = static_cast<std::uint64_t>(step);
  for (std::uint64_t i = 0; i < count; i += s) out.push_back(static_cast<std::uint32_t>(i));
  if (out.back() != count - 1) out.push_back(count - 1);
  return out;
}

int RedLevel(const XSI::detail::ImageData& image, std::uint32_t column, std::uint32_t rowFromTop) {
  // Stored rows run bottom up; the grid counts rows from the picture's top.
  const std::uint8_t* row = image.Row(image.height - 1 - static_cast<int>(rowFromTop));
  const std::size_t sample = std::size_t(column) * std::size_t(image.channels);
  // The same arithmetic as Image::GetPixelValue followed by findSpots'
  // truncation, so both agree on every value.
  double unit;
  if (image.bitsPerChannel == 16) {
    std::uint16_t v;
    std::memcpy(&v, row + 2 * sample, sizeof v);
    unit = double(v) / 65535.0;
  } else {
    unit = double(row[sample]) / 255.0;
  }
  return static_cast<int>(unit * 255.0);
}

namespace {

// The grid over a w x h picture (or window) whose sampled heights `source`
// gives row by row: source(rowFromTop, columns, y) fills y, one per column,
// or returns why it cannot.
bool BuildGrid(std::uint64_t w, std::uint64_t h, const HeightFieldSize& size, const HeightRowSource& source,
               Mesh& mesh, std::string& error) {
  if (w < 2 || h < 2) {
    error = "the image is " + std::to_string(w) + " x " + std::to_string(h) +
            " pixels; a terrain needs at least 2 x 2";
    return false;
  }
  Grid g{HeightFieldSamples(std::uint32_t(w), size.step), HeightFieldSamples(std::uint32_t(h), size.step)};
  const std::uint64_t vertices = std::uint64_t(g.columns.size()) * g.rows.size();
  if (vertices > kMaxHeightFieldVertices) {
    error = "the grid of " + std::to_string(g.columns.size()) + " x " + std::to_string(g.rows.size()) +
            " samples at step " + std::to_string(size.step) + " would pass the limit of " +
            std::to_string(kMaxHeightFieldVertices) + " vertices; use a larger step";
    return false;
  }
  Mesh m;
  m.positions.reserve(vertices);
  const double cellX = size.sizeX / double(w), cellZ = size.sizeZ / double(h);
  std::vector<double> heights;
  for (std::uint32_t r : g.rows) {
    const double z = (double(r) + 0.5 - double(h) / 2.0) * cellZ;
    error = source(r, g.columns, heights);
    if (!error.empty()) return false;
    for (std::size_t ci = 0; ci < g.columns.size(); ++ci) {
      const double x = (double(g.columns[ci]) + 0.5 - double(w) / 2.0) * cellX;
      m.positions.push_back(Vec3{float(x), float(heights[ci]), float(z)});
    }
  }
  std::vector<Vec3> normals(vertices);
  std::vector<Vec2> uvs(vertices);
  for (std::size_t ri = 0; ri < g.rows.size(); ++ri) {
    const float v = float(1.0 - (g.rows[ri] + 0.5) / double(h));
    for (std::size_t ci = 0; ci < g.columns.size(); ++ci) {
      normals[g.Index(ci, ri)] = GridNormal(m, g, ci, ri);
      uvs[g.Index(ci, ri)] = Vec2{float((g.columns[ci] + 0.5) / double(w)), v};
    }
  }
  AddQuads(m, g, normals, uvs);
  Material terrain;
  terrain.name = "terrain";
  terrain.diffuse = Vec3{0.45f, 0.55f, 0.35f};
  m.materials.push_back(terrain);
  mesh = std::move(m);
  return true;
}

}  // namespace

bool BuildHeightField(std::uint64_t width, std::uint64_t height, const HeightFieldSize& size,
                      const HeightRowSource& source, Mesh& mesh, std::string& error) {
  return BuildGrid(width, height, size, source, mesh, error);
}

double RedSample(const XSI::detail::ImageData& image, std::uint32_t column, std::uint32_t rowFromTop) {
  const std::uint8_t* row = image.Row(image.height - 1 - static_cast<int>(rowFromTop));
  const std::size_t sample = std::size_t(column) * std::size_t(image.channels);
  if (image.bitsPerChannel != 16) return row[sample];
  std::uint16_t v;
  std::memcpy(&v, row + 2 * sample, sizeof v);
  return v;
}

bool BuildHeightField(const XSI::detail::ImageData& image, const HeightFieldSize& size, Mesh& mesh,
                      std::string& error) {
  const std::uint64_t w = image.width > 0 ? std::uint64_t(image.width) : 0;
  const std::uint64_t h = image.height > 0 ? std::uint64_t(image.height) : 0;
  const std::uint64_t needed = h * std::uint64_t(image.rowBytes);
  if (w == 0 || h == 0 || image.channels < 1 || image.channels > 4 || image.rows == nullptr ||
      image.byteCount < needed) {
    error = "the image holds no pixels";
    return false;
  }
  const auto levels = [&](std::uint32_t r, const std::vector<std::uint32_t>& columns, std::vector<double>& y) {
    y.resize(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i)
      y[i] = double(RedLevel(image, columns[i], r)) * size.height / 255.0;
    return std::string();
  };
  return BuildGrid(w, h, size, levels, mesh, error);
}

CStatus CreateHeightField(Runtime& rt, const CValueArray& args, CValue& out) {
  Arguments a;
  const CStatus read = ReadArguments(rt, args, a);
  if (!read.Succeeded()) return read;
  if (rt.GetScene().Find(a.name))
    return Refuse(rt, L"an object named " + Quoted(a.name) + L" already exists");
  std::string error;
  Mesh mesh;
  bool built = false;
  if (!a.extended) {
    std::shared_ptr<const XSI::detail::ImageData> image = LoadImageFile(a.path, error);
    if (!image) return Refuse(rt, FromUtf8(error), CStatus::Fail);
    built = BuildHeightField(*image, a.size, mesh, error);
  } else if (FileLooksLikeTiff(a.path)) {
    std::string reason;
    std::unique_ptr<Raster> raster = Raster::OpenFile(a.path, reason);
    if (!raster) return Refuse(rt, L"cannot read image " + Quoted(FromUtf8(a.path)) + L": " + FromUtf8(reason), CStatus::Fail);
    built = BuildFromRaster(*raster, a, mesh, error);
  } else {
    std::shared_ptr<const XSI::detail::ImageData> image = LoadImageFile(a.path, error);
    if (!image) return Refuse(rt, FromUtf8(error), CStatus::Fail);
    built = BuildFromImage(*image, a, mesh, error);
  }
  if (!built)
    return Refuse(rt, L"cannot build a terrain from image " + Quoted(FromUtf8(a.path)) + L": " + FromUtf8(error));
  SceneObject& obj = rt.GetScene().Create(a.name);
  obj.geometry = Geometry(std::move(mesh));
  auto& selection = rt.GetScene().SelectionIds();
  selection.assign(1, obj.id);
  out = CRef(XSI::siRefKind::Object, obj.id);
  return CStatus::OK;
}

}  // namespace host
