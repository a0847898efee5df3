// libFuzzer harness for the findSpots command: the input bytes become the
// thirteen arguments (which picture, every setting and the kind each value is
// handed over as), and the real plug-in runs through the real runtime on tiny
// pictures in a private temporary folder, which is also the working folder,
// so "blobs.bmp" lands there.
//
// Invariants checked on every run:
//  - a run succeeds exactly when its pictures exist and match in size;
//  - a failed run returns nothing and leaves "blobs.bmp" as it was;
//  - the result parses as entries "i,x,y,w,h,e#", numbered 0, 1, ... with
//    the centre inside the picture, the box within it, the elevation 1
//    without a terrain map and 0..255 with one;
//  - the entries agree with an independent count of the 4-connected regions
//    of more than minBlobSize foreground pixels (same classification, plain
//    breadth-first search), region by region;
//  - "blobs.bmp" is a complete bitmap of the picture's size;
//  - the same arguments give the same text and the same bitmap again.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <xsi_plugin.h>

#include "blob_stats.h"
#include "bmp_writer.h"
#include "classification.h"
#include "driver.h"
#include "plugin_loader.h"
#include "runtime.h"
#include "../blobs/rgb_bmp.h"

namespace {

// A picture in the host's orientation: row 0 is the bottom row.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // (y * width + x) * 3: red, green, blue
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_findspots invariant broken: %s\n", what.c_str());
  std::abort();
}

void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

// A fixed pseudo-random picture with a few flat colours, so that colour and
// luminance ranges pick out real regions of assorted shapes.
Picture MakePicture(int width, int height, std::uint32_t seed) {
  static const std::uint8_t kPalette[][3] = {{255, 255, 255}, {0, 0, 0},     {255, 0, 0},
                                             {0, 255, 0},     {0, 0, 255},   {128, 128, 128},
                                             {200, 30, 30},   {30, 200, 30}};
  Picture p{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
  std::uint32_t s = seed;
  for (std::size_t i = 0; i < p.rgb.size(); i += 3) {
    s = s * 1664525u + 1013904223u;
    const std::uint8_t* c = kPalette[(s >> 24) % 8];
    p.rgb[i] = c[0];
    p.rgb[i + 1] = c[1];
    p.rgb[i + 2] = c[2];
  }
  return p;
}

void WritePicture(const Picture& p, const std::string& path) {
  if (!blobtest::WriteRgbBmp(p.rgb, p.width, p.height, path).ok) Fail("cannot write " + path);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The fixture: "a" (9 x 7, with a terrain map), "b" (6 x 5, without), and
// "c" whose terrain map has another size; a missing "d".
struct Fixture {
  std::string folder;
  Picture a, aElevation, b, c;
  std::unique_ptr<host::PluginManager> plugins;
};

Fixture& Setup() {
  static Fixture* f = [] {
    auto* fx = new Fixture;
    char pattern[] = "/tmp/fuzz_findspots-XXXXXX";
    if (!mkdtemp(pattern)) Fail("cannot make a temporary folder");
    fx->folder = pattern;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(Setup().folder, ec);
    });
    if (chdir(fx->folder.c_str()) != 0) Fail("cannot enter " + fx->folder);
    fx->a = MakePicture(9, 7, 1);
    fx->aElevation = MakePicture(9, 7, 2);
    fx->b = MakePicture(6, 5, 3);
    fx->c = MakePicture(4, 4, 4);
    WritePicture(fx->a, fx->folder + "/a.bmp");
    WritePicture(fx->aElevation, fx->folder + "/a_elevation.bmp");
    WritePicture(fx->b, fx->folder + "/b.bmp");
    WritePicture(fx->c, fx->folder + "/c.bmp");
    WritePicture(MakePicture(3, 4, 5), fx->folder + "/c_elevation.bmp");
    host::Runtime& rt = host::Runtime::Get();
    fx->plugins = std::make_unique<host::PluginManager>(rt);
    if (!fx->plugins->Load(XSI_BINARY_DIR "/plugins/findSpots.so").Succeeded())
      Fail("cannot load " XSI_BINARY_DIR "/plugins/findSpots.so");
    return fx;
  }();
  return *f;
}

// Reads the input a byte at a time; zeros once it runs out.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint32_t Next32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Next();
    return v;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

double Interesting(std::uint8_t pick) {
  static const double kValues[] = {0.0, 1.0, 0.5, 1.0 / 3.0, 0.25, 0.1, 0.9, 2.0, -1.0, 1e-7,
                                   std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(), 1e300, 128.0 / 255.0,
                                   30.0 / 255.0};
  return kValues[pick % (sizeof kValues / sizeof kValues[0])];
}

// A number handed over as one of the host's kinds; some texts are not numbers.
XSI::CValue NumberValue(Bytes& in) {
  const std::uint8_t how = in.Next();
  double v = Interesting(in.Next());
  if (how & 0x80) {
    const std::uint32_t bits = in.Next32();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    v = f;
  }
  switch (how % 7) {
    case 0: return XSI::CValue(v);
    case 1: return XSI::CValue(static_cast<float>(v));
    case 2: return XSI::CValue(static_cast<int>(v > -1e9 && v < 1e9 ? v : 0));
    case 3: return XSI::CValue(XSI::CValue(v).GetAsText());
    case 4: return XSI::CValue();
    case 5: return XSI::CValue(v != 0.0);
    default: {
      static const wchar_t* kTexts[] = {L"", L" 0.5 ", L"nan(1)", L"1e400", L"abc", L"+.5", L"-0",
                                        L"1,5", L"inf", L"0x1"};
      return XSI::CValue(kTexts[in.Next() % 10]);
    }
  }
}

XSI::CValue FlagValue(Bytes& in) {
  const std::uint8_t b = in.Next();
  switch (b % 4) {
    case 0: return XSI::CValue((b & 4) != 0);
    case 1: return XSI::CValue(static_cast<int>(b >> 2) - 8);
    case 2: return XSI::CValue((b & 4) ? L"true" : L"no");
    default: return XSI::CValue();
  }
}

struct Entry {
  long i, x, y, w, h, e;
};

bool ParseEntries(const std::string& text, std::vector<Entry>& out) {
  std::size_t at = 0;
  while (at < text.size()) {
    long f[6];
    for (int k = 0; k < 6; ++k) {
      const char end = k < 5 ? ',' : '#';
      std::size_t stop = text.find(end, at);
      if (stop == std::string::npos || stop == at) return false;
      const std::string field = text.substr(at, stop - at);
      for (std::size_t j = 0; j < field.size(); ++j)
        if (!(field[j] >= '0' && field[j] <= '9') && !(j == 0 && field[j] == '-' && field.size() > 1)) return false;
      if (field.size() > 11) return false;
      f[k] = std::strtol(field.c_str(), nullptr, 10);
      at = stop + 1;
    }
    out.push_back(Entry{f[0], f[1], f[2], f[3], f[4], f[5]});
  }
  return true;
}

// The regions the run should report: breadth-first search over the same
// classification, in the same scan order, each measured like measureBlob.
std::vector<Entry> Expected(const Picture& p, const Picture* elevation, const findspots::RunArguments& a) {
  const findspots::ClassBounds bounds = findspots::makeBounds(a.classify);
  const int w = p.width, h = p.height;
  std::vector<int> fg(static_cast<std::size_t>(w) * h);
  for (int i = 0; i < w * h; ++i)
    fg[i] = findspots::isForeground(bounds, p.rgb[i * 3] / 255.0, p.rgb[i * 3 + 1] / 255.0, p.rgb[i * 3 + 2] / 255.0);
  std::vector<Entry> out;
  std::vector<char> seen(fg.size(), 0);
  for (int start = 0; start < w * h; ++start) {
    if (!fg[start] || seen[start]) continue;
    findspots::RegionSummary r;
    r.minColumn = r.maxColumn = start % w;
    r.minRow = r.maxRow = start / w;
    std::deque<int> queue{start};
    seen[start] = 1;
    while (!queue.empty()) {
      const int i = queue.front();
      queue.pop_front();
      const int x = i % w, y = i / w;
      ++r.count;
      r.columnSum += x;
      r.rowSum += y;
      r.minColumn = std::min(r.minColumn, x);
      r.maxColumn = std::max(r.maxColumn, x);
      r.minRow = std::min(r.minRow, y);
      r.maxRow = std::max(r.maxRow, y);
      const int next[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
      for (const auto& n : next) {
        if (n[0] < 0 || n[0] >= w || n[1] < 0 || n[1] >= h) continue;
        const int j = n[1] * w + n[0];
        if (fg[j] && !seen[j]) {
          seen[j] = 1;
          queue.push_back(j);
        }
      }
    }
    if (r.count <= a.minBlobSize) continue;
    r.blobIndex = static_cast<std::int32_t>(out.size());
    findspots::BlobRecord b = findspots::measureBlob(r);
    if (elevation)
      b.elevation = findspots::elevationFromRed(elevation->rgb[(b.centreY * w + b.centreX) * 3] / 255.0);
    out.push_back(Entry{b.index, b.centreX, b.centreY, b.width, b.height, b.elevation});
  }
  return out;
}

struct Outcome {
  XSI::CStatus status;
  XSI::CValue out;
  std::vector<std::uint8_t> bitmap;
};

Outcome Run(const XSI::CValueArray& args) {
  host::Runtime::Get().ResetScene();
  Outcome o;
  o.status = XSI::Application().ExecuteCommand(L"findSpots", args, o.out);
  o.bitmap = ReadBytes("blobs.bmp");
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Fixture& fx = Setup();
  Bytes in(data, size);

  const std::uint8_t which = in.Next() % 4;
  const char* names[] = {"a", "b", "c", "d"};
  XSI::CValueArray args;
  args.Add(XSI::CValue(XSI::CString::FromUtf8(fx.folder + "/")));
  args.Add(XSI::CValue(XSI::CString::FromUtf8(names[which])));
  const std::uint8_t sizeKind = in.Next();
  const int minSize = static_cast<int>(static_cast<std::int8_t>(in.Next()));
  if (sizeKind % 3 == 0) args.Add(XSI::CValue(minSize));
  else if (sizeKind % 3 == 1) args.Add(XSI::CValue(XSI::CValue(minSize).GetAsText()));
  else args.Add(XSI::CValue(static_cast<double>(minSize) + 0.5));
  args.Add(FlagValue(in));
  for (int k = 0; k < 8; ++k) args.Add(NumberValue(in));
  args.Add(FlagValue(in));
  if (in.Next() & 1) args.Resize(2 + in.Next() % 11);  // trailing arguments left out

  const findspots::RunArguments a = findspots::readArguments(args);
  const std::vector<std::uint8_t> before = ReadBytes("blobs.bmp");
  const Outcome first = Run(args);

  const Picture* picture = which == 0 ? &fx.a : which == 1 ? &fx.b : which == 2 ? &fx.c : nullptr;
  const bool loadable = picture && (!a.withElevation || which == 0);
  Check(first.status.Succeeded() == loadable, "run status " + std::to_string(first.status.GetCode()) +
                                                  " for picture " + names[which]);
  if (!loadable) {
    Check(first.out.IsEmpty(), "a failed run returned a value");
    Check(first.bitmap == before, "a failed run changed blobs.bmp");
    return 0;
  }

  const std::string text = first.out.GetAsText().GetUtf8String();
  std::vector<Entry> entries;
  Check(first.out.GetType() == XSI::CValue::siString, "the result is not text");
  Check(ParseEntries(text, entries), "result does not parse: " + text);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    Check(e.i == static_cast<long>(i), "blob numbers out of order: " + text);
    Check(e.x >= 0 && e.x < picture->width && e.y >= 0 && e.y < picture->height, "centre outside: " + text);
    Check(e.w >= 0 && e.w < picture->width && e.h >= 0 && e.h < picture->height, "box too big: " + text);
    Check(a.withElevation ? (e.e >= 0 && e.e <= 255) : e.e == 1, "elevation: " + text);
  }
  if (a.minBlobSize >= 0)
    Check(entries.size() * (static_cast<std::size_t>(a.minBlobSize) + 1) <=
              static_cast<std::size_t>(picture->width) * picture->height,
          "more blob pixels than pixels: " + text);
  const std::vector<Entry> expected = Expected(*picture, a.withElevation ? &fx.aElevation : nullptr, a);
  Check(entries.size() == expected.size(), "blob count " + std::to_string(entries.size()) + ", expected " +
                                               std::to_string(expected.size()) + ": " + text);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    const Entry& x = expected[i];
    Check(e.x == x.x && e.y == x.y && e.w == x.w && e.h == x.h && e.e == x.e,
          "blob " + std::to_string(i) + " differs from the reference: " + text);
  }

  const std::uint64_t rowBytes = findspots::bmpRowSize(picture->width, 24);
  Check(first.bitmap.size() == 54 + rowBytes * picture->height, "blobs.bmp has the wrong size");
  Check(first.bitmap[0] == 'B' && first.bitmap[1] == 'M', "blobs.bmp is not a bitmap");

  const Outcome again = Run(args);
  Check(again.status.GetCode() == first.status.GetCode(), "status changed between runs");
  Check(again.out.GetAsText() == first.out.GetAsText(), "result changed between runs");
  Check(again.bitmap == first.bitmap, "blobs.bmp changed between runs");
  return 0;
}
