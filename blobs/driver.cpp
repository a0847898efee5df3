#include "driver.h"

#include <sys/stat.h>

#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "bitmap_rows.h"
#include "blob_stats.h"
#include "bmp_writer.h"
#include "findspots_command.h"
#include "labelling.h"
#include "row_labelling.h"
#include "second_thread.h"
#include "streamed_bitmap.h"

namespace findspots {
namespace {

using XSI::Application;
using XSI::CColor;
using XSI::CStatus;
using XSI::CString;
using XSI::CValue;
using XSI::CValueArray;
using XSI::Image;

constexpr const char* kBitmapName = "blobs.bmp";

CString fromNumber(long v) { return CString(std::to_wstring(v)); }

void logError(const CString& text) { Application().LogMessage(L"findSpots: " + text, XSI::siErrorMsg); }

// Has the host load `file`; an invalid image when it cannot (already logged).
Image loadImage(const CString& file, const wchar_t* what) {
  Application app;
  CValueArray args(1);
  args[0] = CValue(file);
  CValue out;
  const CStatus status = app.ExecuteCommand(L"CreateImageClip", args, out);
  const XSI::ImageClip2 clip(out.GetAsRef());
  if (!status.Succeeded() || !clip.IsValid()) {
    logError(CString(L"cannot load ") + what + L" '" + file + L"'");
    return Image();
  }
  Image image = clip.GetImage(XSI::kDefaultTime);
  if (!image.IsValid() || image.GetResX() <= 0 || image.GetResY() <= 0) {
    logError(CString(L"") + what + L" '" + file + L"' has no pixels (" + fromNumber(image.GetResX()) +
             L" x " + fromNumber(image.GetResY()) + L")");
    return Image();
  }
  if (image.GetResX() > INT32_MAX || image.GetResY() > INT32_MAX) {
    logError(CString(L"") + what + L" '" + file + L"' is too large");
    return Image();
  }
  return image;
}

// Arguments the caller left out arrive as empty values. Without the
// picture's folder and name there is nothing to read: that is an error
// saying what the command takes. Later ones read as the host's defaults
// (0, false), as they always have, with a warning naming them. False when
// the run cannot go on.
bool checkArgumentCount(const CValueArray& args) {
  long given = 0;
  CString missing;
  bool nameMissing = false;
  for (long i = 0; i < kArgumentCount; ++i) {
    const bool empty = i >= args.GetCount() || args[i].GetType() == CValue::siEmpty;
    if (!empty) {
      given = i + 1;
      continue;
    }
    if (i <= kArgImageName) nameMissing = true;
    if (!missing.IsEmpty()) missing += L", ";
    missing += kArgumentNames[i];
  }
  if (missing.IsEmpty()) return true;
  const CString counts = CString(L"takes ") + fromNumber(kArgumentCount) + L" arguments, got " +
                         fromNumber(given) + L": missing " + missing;
  if (nameMissing) {
    logError(counts + L" (scenehost help findSpots describes them)");
    return false;
  }
  Application().LogMessage(L"findSpots: " + counts + L"; they read as 0 and false", XSI::siWarningMsg);
  return true;
}

bool isRegularFile(const CString& path) {
  struct stat st {};
  return ::stat(path.GetUtf8String().c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isFolder(const CString& path) {
  struct stat st {};
  return !path.IsEmpty() && ::stat(path.GetUtf8String().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// IMAGESPATH is joined to the name as it is, so ".../images" and "map" give
// ".../imagesmap.bmp". When that file is missing but the folder is there
// and holds the picture, say so instead of letting the load fail plainly.
bool missingSlashHint(const RunArguments& a, const CString& file) {
  const std::wstring& folder = a.imagesPath.Wide();
  if (folder.empty() || folder.back() == L'/' || folder.back() == L'\\') return false;
  if (isRegularFile(file) || !isFolder(a.imagesPath)) return false;
  const CString withSlash = a.imagesPath + L"/" + a.imageName + L".bmp";
  if (!isRegularFile(withSlash)) return false;
  logError(L"cannot load image '" + file + L"': no such file. IMAGESPATH '" + a.imagesPath +
           L"' is a folder without its trailing '/', and the name is joined to it as it is; give '" +
           a.imagesPath + L"/' to read '" + withSlash + L"'");
  return true;
}

}  // namespace

// Every pixel read once, row by row from row 0: each row's foreground is
// marked in the mask, and its runs go to the labeller as soon as the row is
// read.
RowClassifier::RowClassifier(const Image& image, const ClassBounds& bounds)
    : image_(image), bounds_(bounds), tables_(makeSampleTables(bounds)), pixels_(image.GetPixels()) {
  direct_ = pixels_.rows != nullptr && pixels_.bitsPerChannel == 8 && pixels_.channels >= 1 &&
            pixels_.channels <= 4;
  for (int v = 0; v < 256; ++v) unit_[v] = static_cast<double>(v) / 255.0;  // what GetPixelValue gives
}

// One row of 8-bit samples read in place: Step bytes a pixel, red at 0, green
// at G and blue at B (grey: all three at 0).
template <int Step, int G, int B, bool Colour>
void RowClassifier::markDirect(std::int32_t width, std::int32_t row, std::int32_t from, std::uint64_t* mask) const {
  const std::uint8_t* p = pixels_.Row(row) + static_cast<std::size_t>(from) * Step;
  for (std::int32_t x = from; x < width; ++x, p += Step) {
    const std::uint8_t r = p[0], g = p[G], b = p[B];
    if (Colour ? tables_.foreground(r, g, b) : isForeground(bounds_, unit_[r], unit_[g], unit_[b])) ForegroundMask::set(mask, x);
  }
}

template <bool Colour>
void RowClassifier::markDirectOf(std::int32_t width, std::int32_t row, std::int32_t from,
                                 std::uint64_t* mask) const {
  switch (pixels_.channels) {
    case 1: return markDirect<1, 0, 0, Colour>(width, row, from, mask);
    case 2: return markDirect<2, 0, 0, Colour>(width, row, from, mask);
    case 3: return markDirect<3, 1, 2, Colour>(width, row, from, mask);
    default: return markDirect<4, 1, 2, Colour>(width, row, from, mask);
  }
}

bool RowClassifier::inPlace(std::int32_t width, std::int32_t row) const {
  return direct_ && width <= pixels_.width && row >= 0 && row < pixels_.height;
}

namespace {

#if defined(__x86_64__) || defined(__i386__)
// Marks in `mask` the pixels among the first width / 16 * 16 of an RGB row
// whose samples all lie in their channel's interval, sixteen at a time;
// returns how many pixels it did.
__attribute__((target("ssse3"))) std::int32_t markRgbRowSsse3(const std::uint8_t* p, std::int32_t width,
                                                              const SampleTables& t, std::uint64_t* mask) {
  // Byte shuffles gathering each channel of 16 pixels out of 48 bytes.
  const __m128i r0 = _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i r1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1);
  const __m128i r2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13);
  const __m128i g0 = _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i g1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1);
  const __m128i g2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14);
  const __m128i b0 = _mm_setr_epi8(2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i b1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1);
  const __m128i b2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15);
  const __m128i lo[3] = {_mm_set1_epi8(static_cast<char>(t.lo[0])), _mm_set1_epi8(static_cast<char>(t.lo[1])),
                         _mm_set1_epi8(static_cast<char>(t.lo[2]))};
  const __m128i hi[3] = {_mm_set1_epi8(static_cast<char>(t.hi[0])), _mm_set1_epi8(static_cast<char>(t.hi[1])),
                         _mm_set1_epi8(static_cast<char>(t.hi[2]))};
  auto within = [](__m128i v, __m128i l, __m128i h) {
    return _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, l), v), _mm_cmpeq_epi8(_mm_min_epu8(v, h), v));
  };
  std::int32_t x = 0;
  for (; x + 16 <= width; x += 16, p += 48) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    const __m128i red = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, r0), _mm_shuffle_epi8(b, r1)),
                                     _mm_shuffle_epi8(c, r2));
    const __m128i green = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, g0), _mm_shuffle_epi8(b, g1)),
                                       _mm_shuffle_epi8(c, g2));
    const __m128i blue = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, b0), _mm_shuffle_epi8(b, b1)),
                                      _mm_shuffle_epi8(c, b2));
    const __m128i pass =
        _mm_and_si128(_mm_and_si128(within(red, lo[0], hi[0]), within(green, lo[1], hi[1])),
                      within(blue, lo[2], hi[2]));
    const std::uint64_t bits = static_cast<std::uint32_t>(_mm_movemask_epi8(pass));
    mask[x >> 6] |= bits << (x & 63);
  }
  return x;
}

bool haveSsse3() {
  static const bool yes = __builtin_cpu_supports("ssse3");
  return yes;
}
#endif

}  // namespace

void RowClassifier::markRow(std::int32_t width, std::int32_t row, std::uint64_t* mask) const {
  if (inPlace(width, row)) {
    std::int32_t done = 0;
#if defined(__x86_64__) || defined(__i386__)
    // Three-sample pixels under colour intervals: sixteen at a time.
    if (tables_.colourTables && tables_.intervals && pixels_.channels == 3 && haveSsse3())
      done = markRgbRowSsse3(pixels_.Row(row), width, tables_, mask);
#endif
    if (tables_.colourTables) markDirectOf<true>(width, row, done, mask);
    else markDirectOf<false>(width, row, done, mask);
  } else {
    // Any other sample layout (16-bit): through the host's pixel reader.
    const float y = static_cast<float>(row);
    for (std::int32_t x = 0; x < width; ++x) {
      CColor c;
      image_.GetPixelValue(static_cast<float>(x), y, c);
      if (isForeground(bounds_, c.r, c.g, c.b)) ForegroundMask::set(mask, x);
    }
  }
}

namespace {

// Hands a marked row's foreground runs to `labeller` and ends the row there.
void labelMarked(const std::uint64_t* mask, std::int32_t width, RowLabeller& labeller) {
  ForegroundMask::forEachRun(mask, width, [&](std::int32_t first, std::int32_t last) { labeller.addRun(first, last); });
  labeller.endRow();
}

// Joins its thread however the scope is left.
struct Joined {
  std::thread thread;
  ~Joined() {
    if (thread.joinable()) thread.join();
  }
};

}  // namespace

void RowClassifier::labelRow(std::int32_t width, std::int32_t row, std::uint64_t* mask,
                             RowLabeller& labeller) const {
  markRow(width, row, mask);
  labelMarked(mask, width, labeller);
}

void RowClassifier::labelRows(std::int32_t width, std::int32_t height, ForegroundMask& mask, RowLabeller& labeller,
                              const std::function<void(std::int32_t)>& settled) const {
  // A large picture read in place has its upper half marked on a second
  // thread while this one marks and labels the lower half; the labelling
  // itself stays in row order here.
  const std::int32_t mid = height / 2;
  Joined upper;
  const std::uint64_t bytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) *
                              static_cast<std::uint64_t>(pixels_.channels);
  if (height >= 2 && inPlace(width, height - 1) && worthASecondThread(bytes)) {
    try {
      upper.thread = std::thread([&] {
        for (std::int32_t row = mid; row < height; ++row) markRow(width, row, mask.row(row));
      });
    } catch (const std::system_error&) {
      // No thread to be had: this one does every row.
    }
  }
  const std::int32_t markedHere = upper.thread.joinable() ? mid : height;
  for (std::int32_t row = 0; row < markedHere; ++row) {
    labelRow(width, row, mask.row(row), labeller);
    if (settled) settled(labeller.settledRows());
  }
  if (markedHere == height) return;
  upper.thread.join();
  for (std::int32_t row = mid; row < height; ++row) {
    labelMarked(mask.row(row), width, labeller);
    if (settled) settled(labeller.settledRows());
  }
}

void RowClassifier::colourRow(std::int32_t width, std::int32_t row, const std::uint64_t* mask,
                              std::uint8_t* line) const {
  std::memset(line, 0, static_cast<std::size_t>(width) * 3);
  if (inPlace(width, row)) {
    const std::size_t step = static_cast<std::size_t>(pixels_.channels);
    const std::size_t g = step >= 3 ? 1 : 0, b = step >= 3 ? 2 : 0;
    const std::uint8_t* src = pixels_.Row(row);
    ForegroundMask::forEachRun(mask, width, [&](std::int32_t first, std::int32_t last) {
      const std::uint8_t* p = src + static_cast<std::size_t>(first) * step;
      std::uint8_t* px = line + static_cast<std::size_t>(first) * 3;
      for (std::int32_t x = first; x <= last; ++x, p += step, px += 3) {
        px[0] = tables_.byteOf[p[b]];
        px[1] = tables_.byteOf[p[g]];
        px[2] = tables_.byteOf[p[0]];
      }
    });
    return;
  }
  const float y = static_cast<float>(row);
  ForegroundMask::forEachRun(mask, width, [&](std::int32_t first, std::int32_t last) {
    for (std::int32_t x = first; x <= last; ++x) {
      CColor c;
      image_.GetPixelValue(static_cast<float>(x), y, c);
      std::uint8_t* px = line + static_cast<std::size_t>(x) * 3;
      px[0] = channelByte(c.b);
      px[1] = channelByte(c.g);
      px[2] = channelByte(c.r);
    }
  });
}

namespace {

std::int32_t readElevation(const Image& elevation, std::int32_t x, std::int32_t y) {
  CColor c;  // all four components 0: a failed read gives elevation 0
  elevation.GetPixelValue(static_cast<float>(x), static_cast<float>(y), c);
  return elevationFromRed(c.r);
}

struct LoadedInput {
  Image image;
  Image elevation;
  bool ok = false;
};

LoadedInput loadInput(const RunArguments& a) {
  LoadedInput in;
  const CString imageFile = a.imagesPath + a.imageName + L".bmp";
  if (missingSlashHint(a, imageFile)) return in;
  in.image = loadImage(imageFile, L"image");
  if (!in.image.IsValid()) return in;
  if (!a.withElevation) {
    Application().LogMessage(L"no elevation map", XSI::siTraceMsg);
    in.ok = true;
    return in;
  }
  const CString elevationFile = a.imagesPath + a.imageName + L"_elevation.bmp";
  in.elevation = loadImage(elevationFile, L"elevation image");
  if (!in.elevation.IsValid()) return in;
  if (in.elevation.GetResX() != in.image.GetResX() || in.elevation.GetResY() != in.image.GetResY()) {
    logError(L"elevation image '" + elevationFile + L"' is " + fromNumber(in.elevation.GetResX()) +
             L" x " + fromNumber(in.elevation.GetResY()) + L" pixels but image '" + imageFile +
             L"' is " + fromNumber(in.image.GetResX()) + L" x " + fromNumber(in.image.GetResY()) +
             L"; they must be the same size");
    return in;
  }
  in.ok = true;
  return in;
}

// Classification, labelling, measurement and bitmap; returns the blob list.
CString detectBlobs(const RunArguments& a, const LoadedInput& in) {
  const std::int32_t width = static_cast<std::int32_t>(in.image.GetResX());
  const std::int32_t height = static_cast<std::int32_t>(in.image.GetResY());
  ForegroundMask mask(width, height);  // the run's only per-pixel memory: a bit a pixel
  const ClassBounds bounds = makeBounds(a.classify);
  const std::string unreachable = unreachableReason(a.classify, bounds);
  if (!unreachable.empty())
    Application().LogMessage(L"findSpots: no pixel can be picked, so no blob is found: " +
                                 CString::FromUtf8(unreachable),
                             XSI::siWarningMsg);
  const RowClassifier classifier(in.image, bounds);
  // A row of the bitmap before its outlines: the foreground's own colours.
  const RowFill colour = [&](std::int32_t row, std::uint8_t* line) {
    classifier.colourRow(width, row, mask.row(row), line);
  };
  // A large bitmap is made and written while the labelling goes on.
  StreamedBitmap bitmap(width, height, kBitmapName, colour,
                        worthASecondThread(bmpRowSize(width, 24) * static_cast<std::uint64_t>(height)));
  std::wstring text;
  RowLabeller labeller(a.minBlobSize, [&](const RegionSummary& region) {
    BlobRecord blob = measureBlob(region);
    if (a.withElevation) blob.elevation = readElevation(in.elevation, blob.centreX, blob.centreY);
    appendBlobEntry(text, blob);
    bitmap.addBox(region.minColumn, region.minRow, blob.width, blob.height);
  });
  classifier.labelRows(width, height, mask, labeller, [&](std::int32_t rows) { bitmap.settle(rows); });
  labeller.finish();

  const BmpWriteResult written = bitmap.finish();
  if (!written.ok)
    Application().LogMessage(L"findSpots: the bitmap was not written: " + CString::FromUtf8(written.reason),
                             XSI::siWarningMsg);
  return CString(std::move(text));
}

}  // namespace

RunArguments readArguments(const CValueArray& args) {
  RunArguments a;
  a.imagesPath = args[kArgImagesPath].GetAsText();
  a.imageName = args[kArgImageName].GetAsText();
  a.minBlobSize = args[kArgMinBlobSize].GetAsInt();
  a.classify.useRGB = args[kArgUseRGB].GetAsBool();
  a.classify.channelRed = args[kArgChannelRed].GetAsFloat();
  a.classify.channelGreen = args[kArgChannelGreen].GetAsFloat();
  a.classify.channelBlue = args[kArgChannelBlue].GetAsFloat();
  a.classify.rangeR = args[kArgRangeR].GetAsFloat();
  a.classify.rangeG = args[kArgRangeG].GetAsFloat();
  a.classify.rangeB = args[kArgRangeB].GetAsFloat();
  a.classify.luminanceValue = args[kArgLuminanceValue].GetAsFloat();
  a.classify.luminanceRange = args[kArgLuminanceRange].GetAsFloat();
  a.withElevation = args[kArgWithElevation].GetAsBool();
  return a;
}

CStatus executeFindSpots(const XSI::CRef& contextRef) {
  XSI::Context context(contextRef);
  const CValueArray args = context.GetAttribute(L"Arguments").GetAsArray();
  Application().LogMessage(L"findSpots_Execute called", XSI::siTraceMsg);
  if (!checkArgumentCount(args)) return CStatus::InvalidArgument;
  const RunArguments a = readArguments(args);

  const LoadedInput in = loadInput(a);
  if (!in.ok) return CStatus::Fail;
  CString blobList;
  try {
    blobList = detectBlobs(a, in);
  } catch (const std::bad_alloc&) {
    logError(L"not enough memory to search image '" + a.imagesPath + a.imageName + L".bmp' (" +
             fromNumber(in.image.GetResX()) + L" x " + fromNumber(in.image.GetResY()) + L" pixels)");
    return CStatus::OutOfMemory;
  }
  context.PutAttribute(L"ReturnValue", CValue(blobList));
  return CStatus::OK;
}

}  // namespace findspots
