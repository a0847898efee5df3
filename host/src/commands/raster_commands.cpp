// GetRasterInfo(path) and SampleRaster(path, points). Both read a TIFF
// through GDAL (raster_gdal.h) and any other picture the host reads whole.
#include "raster_commands.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numeric>
#include <string_view>

#include "command_args.h"
#include "heightfield.h"
#include "raster_gdal.h"

namespace host {

namespace {

constexpr double kMaxPixelIndex = 2147483647.0;  // GDAL counts pixels in int

bool Missing(const XSI::CValueArray& args, long i) {
  return i >= args.GetCount() || args[i].GetType() == XSI::CValue::siEmpty || args[i].GetAsText().IsEmpty();
}

CStatus Fail(Runtime& rt, const wchar_t* command, const CString& what, CStatus code = CStatus::Fail) {
  rt.Error(CString(command) + L": " + what);
  return code;
}

// The path argument: present, free of NULs, not empty.
bool PathArg(Runtime& rt, const wchar_t* command, const XSI::CValueArray& args, const wchar_t* usage,
             std::string& path) {
  if (args.GetCount() < 1) {
    Fail(rt, command, CString(L"expects ") + usage, CStatus::InvalidArgument);
    return false;
  }
  const CString text = args[0].GetAsText();
  if (HasNul(text)) {
    Fail(rt, command, L"the file path holds a NUL character", CStatus::InvalidArgument);
    return false;
  }
  path = NormalisePath(ToUtf8(text));
  if (!path.empty()) return true;
  Fail(rt, command, L"the file path is empty", CStatus::InvalidArgument);
  return false;
}

std::string RasterFailure(const std::string& path, const std::string& reason) {
  return "cannot read raster '" + path + "': " + reason;
}

std::string Shortest(double v, bool asFloat) {
  char buf[64];
  auto r = asFloat ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v))
                   : std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// ---- GetRasterInfo(path) ------------------------------------------------------

CStatus GetRasterInfo(Runtime& rt, const XSI::CValueArray& args, XSI::CValue& out) {
  const wchar_t* kName = L"GetRasterInfo";
  std::string path;
  if (!PathArg(rt, kName, args, L"a raster file path", path)) return CStatus::InvalidArgument;
  RasterInfo info;
  if (FileLooksLikeTiff(path)) {
    std::string reason;
    std::unique_ptr<Raster> r = Raster::OpenFile(path, reason);
    if (r) reason = r->Info(info);
    if (!reason.empty()) return Fail(rt, kName, FromUtf8(RasterFailure(path, reason)));
  } else {
    // The other formats carry no georeferencing: decoded, they give the size.
    std::string error;
    std::shared_ptr<const XSI::detail::ImageData> image = LoadImageFile(path, error);
    if (!image) return Fail(rt, kName, FromUtf8(error));
    info.width = image->width;
    info.height = image->height;
    info.bands = image->channels;
    info.type = image->bitsPerChannel == 16 ? "UInt16" : "Byte";
  }
  out = XSI::CValue(FromUtf8(RasterInfoJson(info)));
  return CStatus::OK;
}

// ---- SampleRaster(path, points) -----------------------------------------------

struct Point {
  std::int64_t column = 0, row = 0;
};

// "c r;c r;...": two whole numbers >= 0 per point, blanks around them.
bool ReadPoints(const std::string& text, std::vector<Point>& points, std::string& problem) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(start, end - start);
    start = end + 1;
    if (item.find_first_not_of(" \t\r\n") == std::string::npos) {
      if (end == text.size()) break;  // a trailing ';'
      problem = "point " + std::to_string(points.size() + 1) + " is empty";
      return false;
    }
    // The words between blanks; exactly two, each a number.
    double v[2] = {0, 0};
    int got = 0;
    const std::string_view blanks = " \t\r\n";
    const std::string_view rest(item);
    for (std::size_t at = rest.find_first_not_of(blanks); at != std::string_view::npos && got >= 0;
         at = rest.find_first_not_of(blanks, at)) {
      const std::size_t wordEnd = std::min(rest.find_first_of(blanks, at), rest.size());
      if (got == 2 || XSI::ReadNumber(rest.substr(at, wordEnd - at), v[got]) != XSI::NumberText::Ok) {
        got = -1;
        break;
      }
      ++got;
      at = wordEnd;
    }
    const bool whole = got == 2 && v[0] >= 0 && v[1] >= 0 && v[0] == std::floor(v[0]) &&
                       v[1] == std::floor(v[1]) && v[0] <= kMaxPixelIndex && v[1] <= kMaxPixelIndex;
    if (!whole) {
      problem = "point " + std::to_string(points.size() + 1) + " '" + (item.size() > 60 ? item.substr(0, 60) + "..." : item) +
                "' is not a column and a row (two whole numbers >= 0)";
      return false;
    }
    points.push_back(Point{std::int64_t(v[0]), std::int64_t(v[1])});
  }
  if (points.empty()) problem = "no points given";
  return !points.empty();
}

std::string PointName(std::size_t i, const Point& p) {
  return "point " + std::to_string(i + 1) + " (column " + std::to_string(p.column) + ", row " +
         std::to_string(p.row) + ")";
}

CStatus SampleRaster(Runtime& rt, const XSI::CValueArray& args, XSI::CValue& out) {
  const wchar_t* kName = L"SampleRaster";
  std::string path;
  if (!PathArg(rt, kName, args, L"a raster file path and points \"c r;c r;...\"", path))
    return CStatus::InvalidArgument;
  std::vector<Point> points;
  std::string problem;
  if (args.GetCount() < 2 || !ReadPoints(ToUtf8(args[1].GetAsText()), points, problem))
    return Fail(rt, kName, FromUtf8(problem.empty() ? "no points given" : problem), CStatus::InvalidArgument);

  std::vector<double> values(points.size(), 0.0);
  bool asFloat = false;
  const auto outside = [&](std::size_t i, std::int64_t w, std::int64_t h) {
    return Fail(rt, kName,
                FromUtf8(PointName(i, points[i]) + " is outside '" + path + "' of " + std::to_string(w) + " x " +
                         std::to_string(h) + " pixels"),
                CStatus::InvalidArgument);
  };
  if (FileLooksLikeTiff(path)) {
    std::string reason;
    std::unique_ptr<Raster> r = Raster::OpenFile(path, reason);
    if (!r) return Fail(rt, kName, FromUtf8(RasterFailure(path, reason)));
    if (!r->Band1TypeHandled())
      return Fail(rt, kName, FromUtf8(RasterFailure(path, "band 1 holds " + r->Band1Type() + " values, which the host does not read")));
    asFloat = r->Band1Type() == "Float32";
    for (std::size_t i = 0; i < points.size(); ++i)
      if (points[i].column >= r->Width() || points[i].row >= r->Height()) return outside(i, r->Width(), r->Height());
    // Row by row, left to right: each row's blocks are read once.
    std::vector<std::size_t> order(points.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return points[a].row != points[b].row ? points[a].row < points[b].row : points[a].column < points[b].column;
    });
    std::vector<std::int64_t> columns;
    std::vector<double> got;
    for (std::size_t k = 0; k < order.size();) {
      const std::int64_t row = points[order[k]].row;
      std::size_t end = k;
      columns.clear();
      while (end < order.size() && points[order[end]].row == row) columns.push_back(points[order[end++]].column);
      reason = r->ReadBand1(row, columns, got);
      if (!reason.empty()) return Fail(rt, kName, FromUtf8(RasterFailure(path, reason)));
      for (std::size_t j = k; j < end; ++j) {
        const std::size_t i = order[j];
        if (r->IsNoData(got[j - k]))
          return Fail(rt, kName, FromUtf8(PointName(i, points[i]) + " of '" + path + "' holds no data (" +
                                          Shortest(got[j - k], asFloat) + ")"));
        values[i] = got[j - k];
      }
      k = end;
    }
  } else {
    std::string error;
    std::shared_ptr<const XSI::detail::ImageData> image = LoadImageFile(path, error);
    if (!image) return Fail(rt, kName, FromUtf8(error));
    for (std::size_t i = 0; i < points.size(); ++i) {
      if (points[i].column >= image->width || points[i].row >= image->height)
        return outside(i, image->width, image->height);
      values[i] = RedLevel(*image, std::uint32_t(points[i].column), std::uint32_t(points[i].row));
    }
  }
  std::string text;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i) text += ';';
    text += Shortest(values[i], asFloat);
  }
  out = XSI::CValue(FromUtf8(text));
  return CStatus::OK;
}

}  // namespace

bool ReadWindowArgs(const XSI::CValueArray& args, long first, PixelWindow& window, bool& given,
                    XSI::CString& problem) {
  given = false;
  bool any = false;
  for (long i = first; i < first + 4; ++i) any = any || !Missing(args, i);
  if (!any) return true;
  const wchar_t* names[4] = {L"x", L"y", L"width", L"height"};
  std::int64_t* fields[4] = {&window.x, &window.y, &window.width, &window.height};
  for (int k = 0; k < 4; ++k) {
    const long i = first + k;
    const double least = k < 2 ? 0.0 : 1.0;
    double v = 0;
    if (Missing(args, i) || !ReadFiniteNumber(args[i], v) || v != std::floor(v) || v < least || v > kMaxPixelIndex) {
      problem = CString(L"the window's ") + names[k] + L" must be a whole number of pixels >= " +
                (k < 2 ? L"0" : L"1") + L", got " + (Missing(args, i) ? CString(L"nothing") : QuoteArg(args[i].GetAsText()));
      return false;
    }
    *fields[k] = static_cast<std::int64_t>(v);
  }
  given = true;
  return true;
}

void RegisterRasterCommands(Runtime& rt) {
  using Fn = CStatus (*)(Runtime&, const XSI::CValueArray&, XSI::CValue&);
  struct Entry {
    const wchar_t* name;
    Fn fn;
    const wchar_t* description;
    std::vector<const wchar_t*> args;
  };
  const Entry table[] = {
      {L"GetRasterInfo", GetRasterInfo,
       L"Describe a raster file as JSON: size, bands, type and its place on Earth", {L"path"}},
      {L"SampleRaster", SampleRaster, L"Band 1's values at pixels \"c r;c r;...\" of a raster file",
       {L"path", L"points"}},
  };
  for (const Entry& e : table) {
    CommandDef def;
    def.name = e.name;
    def.scriptName = e.name;
    def.owner = L"host";
    def.description = e.description;
    def.returnsValue = true;
    for (const wchar_t* a : e.args) def.arguments.push_back(ArgumentDef{a, XSI::CValue()});
    Fn fn = e.fn;
    Runtime* r = &rt;
    def.run = [fn, r](const XSI::CValueArray& args, XSI::CValue& out) { return fn(*r, args, out); };
    rt.RegisterCommand(std::move(def));
  }
}

}  // namespace host
