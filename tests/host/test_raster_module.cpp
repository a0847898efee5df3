// GDAL is loaded by the first GeoTIFF read, not at start-up: a run that reads
// no GeoTIFF must not pay for its hundred-odd libraries. This program links
// only the runtime, so what it has loaded is what the runtime loads.
#include <link.h>

#include <cstring>
#include <string>

#include "host_test_util.h"

namespace {

using testutil::Exec;
using testutil::LastError;

bool Loaded(const char* name) {
  struct Search {
    const char* name;
    bool found;
  } s{name, false};
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        auto* s = static_cast<Search*>(data);
        if (info->dlpi_name && std::strstr(info->dlpi_name, s->name)) s->found = true;
        return 0;
      },
      &s);
  return s.found;
}

TEST(RasterModule, GdalLoadsWithTheFirstGeoTiffAndNotBefore) {
  ASSERT_FALSE(Loaded("libgdal")) << "GDAL was loaded at start-up";
  ASSERT_EQ(Exec(L"CreateBlocks", {L"box", L"0 0 0 1 1 1 0.5 0.5 0.5"}), XSI::CStatus::OK) << LastError();
  EXPECT_FALSE(Loaded("libgdal"));
  EXPECT_FALSE(Loaded("libxsigdal"));

  const std::string tif = XSI_SOURCE_DIR "/examples/region/district_elevation.tif";
  XSI::CValue info;
  ASSERT_EQ(Exec(L"GetRasterInfo", {XSI::CString::FromUtf8(tif)}, &info), XSI::CStatus::OK) << LastError();
  EXPECT_NE(info.GetAsText().GetUtf8String().find("\"georeferenced\":true"), std::string::npos);
  EXPECT_TRUE(Loaded("libxsigdal"));
  EXPECT_TRUE(Loaded("libgdal"));
}

}  // namespace
