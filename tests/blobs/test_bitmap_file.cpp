// Saving "blobs.bmp" safely: the writer never follows a link planted at its
// temporary name, keeps a link at the target a link, refuses a read-only
// file as cp would, keeps the old file's mode, and never leaves a damaged
// bitmap behind, even when the write stops part-way (RLIMIT_FSIZE) or no
// temporary file can be made. The plug-in runs report each refusal as a
// warning and still return their result.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "blob_test_support.h"
#include "bmp_writer.h"

using namespace blobtest;
namespace fs = std::filesystem;

namespace {

const std::vector<std::uint8_t> kKept = {'k', 'e', 'p', 't', ' ', 'b', 'y', 't', 'e', 's'};
constexpr uid_t kNobody = 65534;

// A 40 x 30 raster: 3654 bytes as a bitmap.
std::vector<std::uint8_t> Raster() {
  std::vector<std::uint8_t> r(40 * 30 * 3);
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::uint8_t>(i * 7);
  return r;
}

std::vector<std::uint8_t> Encoded(const std::vector<std::uint8_t>& raster) {
  std::vector<std::uint8_t> out;
  findspots::encodeBMP(raster.data(), 40, 30, 24, [&](const std::uint8_t* d, std::size_t n) {
    out.insert(out.end(), d, d + n);
    return true;
  });
  return out;
}

findspots::BmpWriteResult Save(const std::string& path) {
  const auto r = Raster();
  return findspots::writeBMP(r.data(), 40, 30, 24, path.c_str());
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Runs `body` in a forked child and expects it to exit 0. With `asNobody`
// and a root parent, the child first drops to the unprivileged user, for
// whom permission bits count (root writes read-only files anyway, as cp
// does). The child reports failures on stderr.
void InChild(bool asNobody, const std::function<bool()>& body) {
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (asNobody && ::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) _exit(3);
    _exit(body() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

bool Check(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "failed: %s\n", what);
  return ok;
}

class BitmapFile : public ::testing::Test {
 protected:
  void SetUp() override { EnsurePluginLoaded(); }

  // A folder the unprivileged user may enter and create files in.
  std::string SharedFolder() {
    ::chmod(dir.Path().c_str(), 0755);
    const std::string folder = dir.File("shared");
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0777);
    return folder;
  }

  ScratchDir dir;
};

}  // namespace

// ---- links --------------------------------------------------------------------

TEST_F(BitmapFile, LinksPlantedAtLikelyTemporaryNamesAreNotFollowed) {
  const std::string victim = dir.File("victim");
  WriteBytes(victim, kKept);
  const std::string target = dir.File("blobs.bmp");
  const std::string pid = std::to_string(::getpid());
  const std::vector<std::string> planted = {
      "blobs.bmp.tmp" + pid, "blobs.bmp.tmp", ".blobs.bmp.tmp", "blobs.bmp.tmp" + std::to_string(::getpid() + 1),
      "blobs.bmp~", "blobs.bmp.new", ".blobs.bmp.part"};
  for (const std::string& name : planted) fs::create_symlink(victim, dir.File(name));

  ASSERT_TRUE(Save(target).ok);
  EXPECT_EQ(ReadBytes(victim), kKept);
  EXPECT_FALSE(fs::is_symlink(target));
  EXPECT_EQ(ReadBytes(target), Encoded(Raster()));
  for (const std::string& name : planted) EXPECT_TRUE(fs::is_symlink(dir.File(name))) << name;
  EXPECT_EQ(Names(dir.Path()).size(), planted.size() + 2) << "a temporary file was left behind";
}

TEST_F(BitmapFile, ALinkAtTheTargetStaysALinkAndItsFileIsReplaced) {
  fs::create_directory(dir.File("real"));
  const std::string real = dir.File("real/out.bmp");
  WriteBytes(real, kKept);
  ::chmod(real.c_str(), 0640);
  fs::create_symlink("real/out.bmp", dir.File("blobs.bmp"));  // relative, as users make them
  ASSERT_TRUE(Save("blobs.bmp").ok);
  EXPECT_TRUE(fs::is_symlink(dir.File("blobs.bmp")));
  EXPECT_EQ(fs::read_symlink(dir.File("blobs.bmp")), "real/out.bmp");
  EXPECT_EQ(ReadBytes(real), Encoded(Raster()));
  EXPECT_EQ(ModeOf(real), 0640u);
  EXPECT_EQ(Names(dir.File("real")), std::vector<std::string>{"out.bmp"});

  // A chain of links ends at the same file.
  fs::create_symlink("blobs.bmp", dir.File("second.bmp"));
  WriteBytes(real, kKept);
  ASSERT_TRUE(Save(dir.File("second.bmp")).ok);
  EXPECT_EQ(ReadBytes(real), Encoded(Raster()));
  EXPECT_TRUE(fs::is_symlink(dir.File("second.bmp")));
}

TEST_F(BitmapFile, ALinkToAMissingFileIsRefused) {
  fs::create_symlink(dir.File("nowhere/out.bmp"), dir.File("blobs.bmp"));
  const auto r = Save(dir.File("blobs.bmp"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.reason, "'" + dir.File("blobs.bmp") + "' is a link to a missing file ('" +
                          dir.File("nowhere/out.bmp") + "')");
  EXPECT_TRUE(fs::is_symlink(dir.File("blobs.bmp")));
  EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"blobs.bmp"});
}

// ---- permissions and mode -------------------------------------------------------

TEST_F(BitmapFile, AnExistingFileKeepsItsModeAndANewOneGetsTheUmasksDefault) {
  const std::string target = dir.File("blobs.bmp");
  WriteBytes(target, kKept);
  ::chmod(target.c_str(), 0604);
  ASSERT_TRUE(Save(target).ok);
  EXPECT_EQ(ModeOf(target), 0604u);
  EXPECT_EQ(ReadBytes(target), Encoded(Raster()));

  const mode_t old = ::umask(022);
  const auto r = Save(dir.File("fresh.bmp"));
  ::umask(old);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(ModeOf(dir.File("fresh.bmp")), 0644u);
}

TEST_F(BitmapFile, AReadOnlyFileIsRefusedAndLeftAlone) {
  const std::string folder = SharedFolder();  // rename() alone would replace it
  const std::string target = folder + "/blobs.bmp";
  WriteBytes(target, kKept);
  ::chmod(target.c_str(), 0444);
  InChild(true, [&] {
    const auto r = Save(target);
    return Check(!r.ok, "the save succeeded") && Check(r.reason == "'" + target + "' is read-only", r.reason.c_str()) &&
           Check(ReadBytes(target) == kKept, "the file changed") &&
           Check(Names(folder) == std::vector<std::string>{"blobs.bmp"}, "a file was left behind");
  });
  EXPECT_EQ(ModeOf(target), 0444u);
}

TEST_F(BitmapFile, AFolderThatRefusesNewFilesIsNeverWorkedAroundInPlace) {
  // The file may be written but no temporary file can be made next to it:
  // the old writer then truncated the file and rewrote it, and a write that
  // stopped part-way (here at a 100-byte file-size limit) left it damaged.
  const std::string folder = SharedFolder();
  const std::string target = folder + "/blobs.bmp";
  WriteBytes(target, kKept);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);
  }
  ::chmod(folder.c_str(), 0555);
  InChild(true, [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{100, 100};
    if (::setrlimit(RLIMIT_FSIZE, &small) != 0) return Check(false, "setrlimit");
    const auto r = Save(target);
    return Check(!r.ok, "the save succeeded") &&
           Check(r.reason == "'" + target + "' cannot be created in its folder: permission denied",
                 r.reason.c_str()) &&
           Check(ReadBytes(target) == kKept, "the old file was rewritten");
  });
  ::chmod(folder.c_str(), 0755);
  EXPECT_EQ(ReadBytes(target), kKept);
}

// ---- writes that stop part-way ------------------------------------------------------

TEST_F(BitmapFile, AWriteStoppedByTheFileSizeLimitLeavesTheOldFileIntact) {
  const std::string target = dir.File("blobs.bmp");
  WriteBytes(target, kKept);
  InChild(false, [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{1000, RLIM_INFINITY};  // part of the 3654 bytes fit
    if (::setrlimit(RLIMIT_FSIZE, &small) != 0) return Check(false, "setrlimit");
    const auto r = Save(target);
    return Check(!r.ok, "the save succeeded") && Check(r.reason == "'" + target + "' cannot be written: file too large", r.reason.c_str());
  });
  EXPECT_EQ(ReadBytes(target), kKept);
  EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"blobs.bmp"});
}

// A file of 8 MiB or more is written on a second thread, a block behind the
// rows being made: the same bytes, and the same all-or-nothing on failure.
namespace {

constexpr std::int32_t kBigWidth = 1501, kBigHeight = 2001;  // 9 MB, padded rows

void BigRow(std::int32_t row, std::uint8_t* line) {
  for (std::int32_t x = 0; x < kBigWidth * 3; ++x) line[x] = static_cast<std::uint8_t>(row * 31 + x);
}

}  // namespace

TEST_F(BitmapFile, ALargeFileWrittenBehindTheRowsHasTheEncodersBytes) {
  std::vector<std::uint8_t> encoded;
  ASSERT_TRUE(findspots::encodeBMPRows(kBigWidth, kBigHeight, 24, BigRow, [&](const std::uint8_t* d, std::size_t n) {
    encoded.insert(encoded.end(), d, d + n);
    return true;
  }));
  const std::string target = dir.File("blobs.bmp");
  ASSERT_TRUE(findspots::writeBMPRows(kBigWidth, kBigHeight, 24, target.c_str(), BigRow).ok);
  EXPECT_TRUE(ReadBytes(target) == encoded);
}

TEST_F(BitmapFile, ALargeWriteStoppedPartWayLeavesTheOldFileIntact) {
  const std::string target = dir.File("blobs.bmp");
  WriteBytes(target, kKept);
  InChild(false, [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{3u << 20, RLIM_INFINITY};  // a few blocks in
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return Check(false, "setrlimit");
    const auto r = findspots::writeBMPRows(kBigWidth, kBigHeight, 24, target.c_str(), BigRow);
    return Check(!r.ok, "the save succeeded") &&
           Check(r.reason == "'" + target + "' cannot be written: file too large", r.reason.c_str());
  });
  EXPECT_EQ(ReadBytes(target), kKept);
  EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"blobs.bmp"});
}

// ---- through the plug-in ------------------------------------------------------------

TEST_F(BitmapFile, RunsReportARefusedBitmapAndStillReturnTheirResult) {
  const std::string folder = SharedFolder();
  WriteBmp(FromRows({"#.", ".#"}), folder + "/img.bmp");
  WriteBytes(folder + "/blobs.bmp", kKept);
  ::chmod((folder + "/blobs.bmp").c_str(), 0444);
  InChild(true, [&] {
    if (::chdir(folder.c_str()) != 0) return Check(false, "chdir");
    Args a;
    a.imagesPath = folder + "/";
    const RunResult r = RunFindSpots(a);
    const bool ok = Check(r.status.Succeeded(), "status") && Check(r.Text() == "0,1,0,0,0,1#1,0,1,0,0,1#", "result") &&
                    Check(r.Logged("findSpots: the bitmap was not written: 'blobs.bmp' is read-only", 4), "warning") &&
                    Check(ReadBytes(folder + "/blobs.bmp") == kKept, "the bitmap changed");
    if (!ok) std::fprintf(stderr, "%s", r.LogText().c_str());
    return ok;
  });
}

TEST_F(BitmapFile, RunsWriteThroughALinkedBitmap) {
  fs::create_directory(dir.File("out"));
  WriteBytes(dir.File("out/result.bmp"), kKept);
  fs::create_symlink("out/result.bmp", dir.File("blobs.bmp"));
  WriteBmp(FromRows({"##"}), dir.File("img.bmp"));
  Args a;
  a.imagesPath = dir.Prefix();
  const RunResult r = RunFindSpots(a);
  ASSERT_TRUE(r.status.Succeeded()) << r.LogText();
  EXPECT_EQ(r.Text(), "0,0,0,1,0,1#");
  EXPECT_TRUE(fs::is_symlink(dir.File("blobs.bmp")));
  EXPECT_EQ(DecodeWithStb(ReadBytes(dir.File("out/result.bmp"))).width, 2);
}
