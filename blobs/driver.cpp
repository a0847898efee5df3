#include "driver.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <cstring>
#include <new>
#include <string>

#include "blob_stats.h"
#include "bmp_writer.h"
#include "findspots_command.h"
#include "labelling.h"
#include "row_labelling.h"

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

// Every pixel read once, row by row from row 0: foreground pixels keep their
// own colour in the raster, the rest turn black, and each row's foreground
// runs go to the labeller as soon as the row is read.
RowClassifier::RowClassifier(const Image& image, const ClassBounds& bounds, bool linesStartZero)
    : image_(image),
      bounds_(bounds),
      tables_(makeSampleTables(bounds)),
      pixels_(image.GetPixels()),
      linesStartZero_(linesStartZero) {
  direct_ = pixels_.rows != nullptr && pixels_.bitsPerChannel == 8 && pixels_.channels >= 1 &&
            pixels_.channels <= 4;
  for (int v = 0; v < 256; ++v) unit_[v] = static_cast<double>(v) / 255.0;  // what GetPixelValue gives
}

// One row of 8-bit samples read in place: Step bytes a pixel, red at 0, green
// at G and blue at B (grey: all three at 0).
template <int Step, int G, int B, bool Colour>
void RowClassifier::directRow(std::int32_t width, std::int32_t row, std::uint8_t* line,
                              RowLabeller& labeller) const {
  if (!linesStartZero_) std::memset(line, 0, static_cast<std::size_t>(width) * 3);  // background is black
  const std::uint8_t* p = pixels_.Row(row);
  std::int32_t runStart = -1;
  for (std::int32_t column = 0; column < width; ++column, p += Step) {
    const std::uint8_t r = p[0], g = p[G], b = p[B];
    const bool fg = Colour ? tables_.foreground(r, g, b) : isForeground(bounds_, unit_[r], unit_[g], unit_[b]);
    if (fg) {
      std::uint8_t* px = line + static_cast<std::size_t>(column) * 3;
      px[0] = tables_.byteOf[b];
      px[1] = tables_.byteOf[g];
      px[2] = tables_.byteOf[r];
      if (runStart < 0) runStart = column;
    } else if (runStart >= 0) {
      labeller.addRun(runStart, column - 1);
      runStart = -1;
    }
  }
  if (runStart >= 0) labeller.addRun(runStart, width - 1);
  labeller.endRow();
}

template <bool Colour>
void RowClassifier::directRowOf(std::int32_t width, std::int32_t row, std::uint8_t* line,
                                RowLabeller& labeller) const {
  switch (pixels_.channels) {
    case 1: return directRow<1, 0, 0, Colour>(width, row, line, labeller);
    case 2: return directRow<2, 0, 0, Colour>(width, row, line, labeller);
    case 3: return directRow<3, 1, 2, Colour>(width, row, line, labeller);
    default: return directRow<4, 1, 2, Colour>(width, row, line, labeller);
  }
}

void RowClassifier::classifyRow(std::int32_t width, std::int32_t row, std::uint8_t* line,
                                RowLabeller& labeller) const {
  if (direct_ && width <= pixels_.width && row >= 0 && row < pixels_.height) {
    if (tables_.colourTables) return directRowOf<true>(width, row, line, labeller);
    return directRowOf<false>(width, row, line, labeller);
  }
  // Any other sample layout (16-bit): through the host's pixel reader.
  const float y = static_cast<float>(row);
  std::int32_t runStart = -1;
  for (std::int32_t column = 0; column < width; ++column) {
    CColor c;
    image_.GetPixelValue(static_cast<float>(column), y, c);
    std::uint8_t* px = line + static_cast<std::size_t>(column) * 3;
    if (isForeground(bounds_, c.r, c.g, c.b)) {
      px[0] = channelByte(c.b);
      px[1] = channelByte(c.g);
      px[2] = channelByte(c.r);
      if (runStart < 0) runStart = column;
    } else {
      px[0] = px[1] = px[2] = 0;
      if (runStart >= 0) labeller.addRun(runStart, column - 1);
      runStart = -1;
    }
  }
  if (runStart >= 0) labeller.addRun(runStart, width - 1);
  labeller.endRow();
}

void classifyRow(const Image& image, const ClassBounds& bounds, std::int32_t width, std::int32_t row,
                 std::uint8_t* line, RowLabeller& labeller) {
  RowClassifier(image, bounds).classifyRow(width, row, line, labeller);
}

namespace {

std::int32_t readElevation(const Image& elevation, std::int32_t x, std::int32_t y) {
  CColor c;  // all four components 0: a failed read gives elevation 0
  elevation.GetPixelValue(static_cast<float>(x), static_cast<float>(y), c);
  return elevationFromRed(c.r);
}

// Anonymous memory for a per-pixel buffer, released on destruction. Large
// buffers ask for transparent huge pages: one page fault per 2 MiB instead of
// one per 4 KiB is a visible share of a run. Throws std::bad_alloc.
class PixelBuffer {
 public:
  explicit PixelBuffer(std::size_t bytes) : size_(bytes == 0 ? 1 : bytes) {
    void* p = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (size_ >= kHugePage) ::madvise(p, size_, MADV_HUGEPAGE);  // a hint: failure is harmless
    data_ = static_cast<std::uint8_t*>(p);
  }
  ~PixelBuffer() { release(); }
  PixelBuffer(const PixelBuffer&) = delete;
  PixelBuffer& operator=(const PixelBuffer&) = delete;

  std::uint8_t* get() const { return data_; }
  void release() {
    if (data_) ::munmap(data_, size_);
    data_ = nullptr;
  }

 private:
  std::size_t size_;
  std::uint8_t* data_ = nullptr;
};

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
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  PixelBuffer raster(pixels * 3);  // the run's only per-pixel memory
  Raster out{raster.get(), width, height};
  const ClassBounds bounds = makeBounds(a.classify);
  const std::string unreachable = unreachableReason(a.classify, bounds);
  if (!unreachable.empty())
    Application().LogMessage(L"findSpots: no pixel can be picked, so no blob is found: " +
                                 CString::FromUtf8(unreachable),
                             XSI::siWarningMsg);
  std::wstring text;
  // Every blob's rectangle lies in rows already read, and all of them are the
  // same green, so drawing as the blobs come gives the finished raster.
  RowLabeller labeller(a.minBlobSize, [&](const RegionSummary& region) {
    BlobRecord blob = measureBlob(region);
    if (a.withElevation) blob.elevation = readElevation(in.elevation, blob.centreX, blob.centreY);
    appendBlobEntry(text, blob);
    outlineBlob(out, region, blob);
  });
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  // The raster is fresh anonymous memory, all zero: background needs no
  // writing, and pages of background alone are never touched here.
  const RowClassifier classifier(in.image, bounds, /*linesStartZero=*/true);
  for (std::int32_t row = 0; row < height; ++row)
    classifier.classifyRow(width, row, raster.get() + static_cast<std::size_t>(row) * rowBytes, labeller);
  labeller.finish();

  const BmpWriteResult written = writeBMP(raster.get(), width, height, 24, kBitmapName);
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
