// GeoTIFF from untrusted bytes, through GDAL as the host reads it. Checks: a
// refusal names the input and says why; a picture has the shape it claims
// and stays within the limit; reading twice gives the same pixels; a window
// holds the same pixels as the whole picture at the same place; band 1 reads
// the same sample by sample as a row at a time; the description is JSON of
// finite numbers.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "image_data.h"
#include "raster_gdal.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant failed: %s\n", what);
    std::abort();
  }
}

int At(const XSI::ImagePixels& p, int c, int rowFromTop, int k) {
  return p.Row(p.height - 1 - rowFromTop)[std::size_t(c) * p.channels + k];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  host::ImageLimits limits;
  limits.maxPixels = std::uint64_t(1) << 20;  // keeps each run small; the checks do not depend on it
  std::string error;
  auto a = host::LoadTiffMemory(data, size, "fuzz", limits, error);
  if (!a) {
    Check(error.rfind("cannot read image 'fuzz': ", 0) == 0 && error.size() > 26, "refusal names the input");
  } else {
    Check(error.empty(), "no error text on success");
    Check(a->width > 0 && a->height > 0 && (a->channels == 1 || a->channels == 3 || a->channels == 4) &&
              a->bitsPerChannel == 8,
          "sane shape");
    Check(std::uint64_t(a->width) * std::uint64_t(a->height) <= limits.maxPixels, "within the limit");
    Check(a->rowBytes == std::size_t(a->width) * a->channels && a->byteCount >= a->rowBytes * a->height,
          "rows cover the picture");
    std::string again;
    auto b = host::LoadTiffMemory(data, size, "fuzz", limits, again);
    Check(b && std::memcmp(a->rows, b->rows, a->rowBytes * a->height) == 0, "deterministic");
  }

  std::string reason;
  std::unique_ptr<host::Raster> r = host::Raster::OpenMemory(data, size, reason);
  if (!r) {
    Check(!reason.empty(), "a refusal says why");
    return 0;
  }
  Check(r->Width() > 0 && r->Height() > 0 && r->Bands() > 0, "an open raster has pixels and bands");
  host::RasterInfo info;
  if (r->Info(info).empty()) {
    const std::string json = host::RasterInfoJson(info);
    Check(json.front() == '{' && json.back() == '}', "info is an object");
    Check(json.find("nan") == std::string::npos && json.find("inf") == std::string::npos, "info numbers are finite");
  }
  // Outside windows are refused before anything is read.
  Check(!r->CheckWindow({r->Width(), 0, 1, 1}).empty() && !r->CheckWindow({0, 0, 0, 1}).empty(),
        "windows outside are refused");
  // A window of the lower-right quarter, as the whole picture has it.
  if (a) {
    const host::PixelWindow w{r->Width() / 2, r->Height() / 2, r->Width() - r->Width() / 2,
                              r->Height() - r->Height() / 2};
    XSI::detail::ImageData part;
    if (r->ReadPicture(w, limits, part).empty()) {
      for (int y = 0; y < part.height; ++y)
        for (int x = 0; x < part.width; ++x)
          for (int k = 0; k < part.channels; ++k)
            Check(At(part, x, y, k) == At(*a, x + int(w.x), y + int(w.y), k), "a window is the same pixels");
    }
  }
  // Band 1 of the first row: a row at a time and sample by sample agree.
  if (r->Band1TypeHandled()) {
    std::vector<std::int64_t> dense, sparse;
    for (std::int64_t c = 0; c < r->Width() && c < 64; ++c) dense.push_back(c);
    sparse.push_back(0);
    if (r->Width() > 1) sparse.push_back(r->Width() - 1);
    std::vector<double> dv, sv;
    if (r->ReadBand1(0, dense, dv).empty() && r->ReadBand1(0, sparse, sv).empty() && sparse.back() < 64)
      for (std::size_t i = 0; i < sparse.size(); ++i)
        Check(std::memcmp(&sv[i], &dv[std::size_t(sparse[i])], sizeof(double)) == 0, "band 1 reads alike");
  }
  return 0;
}
