// findSpots on two kinds of map (4096 x 4096 by default), end to end through
// the host: the plug-in loaded by PluginManager, the run through
// ExecuteCommand, from the image file to the result text and "blobs.bmp".
//   - "town": a dense town map with thousands of lots, made here;
//   - "sparse": a dark street grid with one to three small lots in every
//     64-pixel block, made by make_sparse_map.py (next to this file) with its
//     own seed. Most of it is background, so fixed per-pixel costs dominate.
// For each map it prints:
//   - the time of each stage of a run (decoding, classifying and labelling,
//     measuring and the result text, writing blobs.bmp), each timed on its
//     own over the same image as a run does it; a large picture takes two
//     threads in three of them (docs/findspots.md), so the whole process is
//     given with its CPU time too;
//   - the run in process, and the whole process (scenehost started, plug-in
//     loaded, one run, exit), each with its CPU time;
//   - with OpenCV: the same work by imread, inRange,
//     connectedComponentsWithStats (4-connectivity), the size filter,
//     rectangles and imwrite, on one thread and on two, in process and as a
//     whole process, and the ratios.
//
// Then the in-process run on the sparse map at four sizes, with its time per
// pixel, to show the cost stays linear in the pixel count.
//
// Memory: a fresh child process (this program with --memory-child) makes one
// run and reports the growth of its peak resident size (VmHWM) per pixel,
// less the host's decoded image (3 bytes a pixel), and the same for its peak
// address space (VmPeak, which also counts reserved but untouched memory).
//
//   bench_blobs [--size N] [--reps R] [--no-opencv] [--map town|sparse] [--no-scaling]
//
// Every figure is the fastest of R runs (on a shared machine the least
// disturbed one). Temporary files go to $TMPDIR (default /tmp);
// TMPDIR=/dev/shm keeps disk writes out of the figures.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <xsi_plugin.h>

#include "blob_stats.h"
#include "bitmap_rows.h"
#include "bmp_writer.h"
#include "driver.h"
#include "plugin_loader.h"
#include "runtime.h"

#ifdef BENCH_WITH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Red lots, matched by both detectors: centre (0.9, 0.1, 0.1), half-widths
// 0.05; lots of more than 20 pixels are blobs.
constexpr float kCentre[3] = {0.9f, 0.1f, 0.1f};
constexpr float kHalf = 0.05f;
constexpr int kMinBlobSize = 20;

struct Lcg {
  std::uint32_t state;
  std::uint32_t next(std::uint32_t n) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % n;
  }
};

// A town map like examples/images/map.bmp, at any size: 32-pixel blocks on a
// street grid, each split into up to 3 x 3 lots of four colours. BGR rows,
// row 0 first (the bottom row of the file).
std::vector<std::uint8_t> townMap(int size) {
  static const std::uint8_t kColours[4][3] = {{30, 30, 230}, {60, 200, 235}, {60, 150, 50}, {210, 100, 60}};
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(size) * size * 3);
  for (std::size_t i = 0; i < bgr.size(); i += 3) bgr[i] = 76, bgr[i + 1] = 70, bgr[i + 2] = 70;
  Lcg rng{1912};
  const int block = 32, street = 4, gap = 2;
  auto fill = [&](int x0, int y0, int x1, int y1, const std::uint8_t* c) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) std::memcpy(&bgr[(static_cast<std::size_t>(y) * size + x) * 3], c, 3);
  };
  static const std::uint8_t kPavement[3] = {150, 150, 150};
  for (int by = 0; by + block <= size; by += block)
    for (int bx = 0; bx + block <= size; bx += block) {
      const int x0 = bx + street / 2, y0 = by + street / 2;
      const int x1 = bx + block - street / 2, y1 = by + block - street / 2;
      fill(x0, y0, x1, y1, kPavement);
      const int cols = 1 + static_cast<int>(rng.next(3)), rows = 1 + static_cast<int>(rng.next(3));
      const int iw = x1 - x0 - gap, ih = y1 - y0 - gap;
      for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i)
          fill(x0 + gap + i * iw / cols, y0 + gap + j * ih / rows, x0 + (i + 1) * iw / cols,
               y0 + (j + 1) * ih / rows, kColours[rng.next(4)]);
    }
  return bgr;
}

// The sparse map, written by the committed generator with its fixed seed.
bool sparseMap(int size, const std::string& path) {
  const std::string command = "python3 '" XSI_SOURCE_DIR "/bench/bench_blobs/make_sparse_map.py' --size " +
                              std::to_string(size) + " --seed 2525 '" + path + "'";
  return std::system(command.c_str()) == 0;
}

XSI::CValueArray findSpotsArgs(const std::string& dir, const std::string& name) {
  XSI::CValueArray a;
  a.Add(XSI::CValue(XSI::CString::FromUtf8(dir + "/")));
  a.Add(XSI::CValue(XSI::CString::FromUtf8(name)));
  a.Add(XSI::CValue(kMinBlobSize));
  a.Add(XSI::CValue(true));
  for (float c : kCentre) a.Add(XSI::CValue(c));
  for (int i = 0; i < 3; ++i) a.Add(XSI::CValue(kHalf));
  a.Add(XSI::CValue(0.0f));
  a.Add(XSI::CValue(0.0f));
  a.Add(XSI::CValue(false));
  return a;
}

long readStatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n + 1);
  return -1;
}

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// One findSpots run; the number of blobs it reports.
int runFindSpots(const std::string& dir, const std::string& name, double& secs) {
  XSI::CValue out;
  const auto t0 = Clock::now();
  const XSI::CStatus st = XSI::Application().ExecuteCommand(L"findSpots", findSpotsArgs(dir, name), out);
  const auto t1 = Clock::now();
  secs = seconds(t0, t1);
  if (!st.Succeeded()) {
    std::fprintf(stderr, "findSpots failed\n");
    std::exit(1);
  }
  const XSI::CString text = out.GetAsText();
  host::Runtime::Get().ResetScene();  // drop the clip: each run loads afresh
  return static_cast<int>(std::count(text.Wide().begin(), text.Wide().end(), L'#'));
}

int memoryChild(const std::string& dir, const std::string& name, int size) {
  host::PluginManager pm(host::Runtime::Get());
  if (!pm.Load(XSI_BINARY_DIR "/plugins/findSpots.so").Succeeded()) return 1;
  fs::current_path(dir);
  const long rssBefore = readStatusKb("VmRSS:");
  const long sizeBefore = readStatusKb("VmSize:");
  double secs = 0;
  runFindSpots(dir, name, secs);
  const long hwm = readStatusKb("VmHWM:");
  const long peak = readStatusKb("VmPeak:");
  const double pixels = static_cast<double>(size) * size;
  const double hostImage = pixels * 3;
  std::printf("%.3f %.3f\n", ((hwm - rssBefore) * 1024.0 - hostImage) / pixels,
              ((peak - sizeBefore) * 1024.0 - hostImage) / pixels);
  return 0;
}

#ifdef BENCH_WITH_OPENCV
int runOpenCv(const std::string& dir, const std::string& name, double& secs) {
  const auto t0 = Clock::now();
  const cv::Mat img = cv::imread(dir + "/" + name + ".bmp", cv::IMREAD_COLOR);
  // Inclusive byte bounds equal to the colour ranges on the 0..1 scale.
  cv::Scalar lo, hi;
  for (int c = 0; c < 3; ++c) {
    const double l = (static_cast<double>(kCentre[c]) - kHalf) * 255.0;
    const double h = (static_cast<double>(kHalf) + kCentre[c]) * 255.0;
    lo[2 - c] = std::ceil(l);
    hi[2 - c] = std::floor(h);
  }
  cv::Mat mask;
  cv::inRange(img, lo, hi, mask);
  cv::Mat labels, stats, centroids;
  const int n = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 4, CV_32S);
  cv::Mat outline = cv::Mat::zeros(img.size(), img.type());
  img.copyTo(outline, mask);
  int kept = 0;
  std::string text;
  for (int i = 1; i < n; ++i) {
    if (stats.at<int>(i, cv::CC_STAT_AREA) <= kMinBlobSize) continue;
    const int x = stats.at<int>(i, cv::CC_STAT_LEFT), y = stats.at<int>(i, cv::CC_STAT_TOP);
    const int w = stats.at<int>(i, cv::CC_STAT_WIDTH) - 1, h = stats.at<int>(i, cv::CC_STAT_HEIGHT) - 1;
    text += std::to_string(kept) + "," + std::to_string(static_cast<int>(centroids.at<double>(i, 0))) + "," +
            std::to_string(static_cast<int>(centroids.at<double>(i, 1))) + "," + std::to_string(w) + "," +
            std::to_string(h) + ",1#";
    cv::rectangle(outline, cv::Rect(x, y, w + 1, h + 1), cv::Scalar(0, 255, 0));
    ++kept;
  }
  cv::imwrite(dir + "/cv_blobs.bmp", outline);
  secs = seconds(t0, Clock::now());
  return kept;
}
#endif

double fastest(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

// The stages of one run, each timed on its own as the run does it.
struct Stages {
  double decode = 0, classifyLabel = 0, statsText = 0, write = 0;
};

Stages runStages(const std::string& dir, const std::string& name, int size) {
  Stages t;
  XSI::CValueArray a(1);
  a[0] = XSI::CValue(XSI::CString::FromUtf8(dir + "/" + name + ".bmp"));
  XSI::CValue clip;
  auto t0 = Clock::now();
  XSI::Application().ExecuteCommand(L"CreateImageClip", a, clip);
  t.decode = seconds(t0, Clock::now());
  const XSI::Image image = XSI::ImageClip2(clip.GetAsRef()).GetImage();

  findspots::ClassifySettings settings;
  settings.useRGB = true;
  settings.channelRed = kCentre[0], settings.channelGreen = kCentre[1], settings.channelBlue = kCentre[2];
  settings.rangeR = settings.rangeG = settings.rangeB = kHalf;
  const findspots::ClassBounds bounds = findspots::makeBounds(settings);
  std::vector<findspots::RegionSummary> regions;
  t0 = Clock::now();
  findspots::ForegroundMask mask(size, size);
  findspots::RowLabeller labeller(kMinBlobSize, [&](const findspots::RegionSummary& r) { regions.push_back(r); });
  const findspots::RowClassifier classifier(image, bounds);
  classifier.labelRows(size, size, mask, labeller);
  labeller.finish();
  t.classifyLabel = seconds(t0, Clock::now());

  t0 = Clock::now();
  findspots::OutlineSweep outlines;
  std::wstring text;
  for (const findspots::RegionSummary& r : regions) {
    const findspots::BlobRecord blob = findspots::measureBlob(r);
    findspots::appendBlobEntry(text, blob);
    outlines.add(r.minColumn, r.minRow, blob.width, blob.height);
  }
  t.statsText = seconds(t0, Clock::now());

  t0 = Clock::now();
  findspots::writeBMPRows(size, size, 24, "blobs.bmp", [&](std::int32_t row, std::uint8_t* line) {
    classifier.colourRow(size, row, mask.row(row), line);
    outlines.drawRow(row, line);
  });
  t.write = seconds(t0, Clock::now());
  host::Runtime::Get().ResetScene();
  return t;
}

// Runs argv as a child process with its output discarded; wall and CPU
// (user + system) seconds.
bool runProcess(const std::vector<std::string>& args, double& wall, double& cpu) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO), dup2(null, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return false;
  wall = seconds(t0, Clock::now());
  cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> sceneHostFindSpots(const std::string& dir, const std::string& name) {
  std::vector<std::string> args = {XSI_BINARY_DIR "/bin/scenehost", "-q", "--plugin",
                                   XSI_BINARY_DIR "/plugins/findSpots.so", "findSpots", dir + "/", name,
                                   std::to_string(kMinBlobSize), "true"};
  for (float c : kCentre) args.push_back(std::to_string(c));
  for (int i = 0; i < 3; ++i) args.push_back(std::to_string(kHalf));
  for (const char* rest : {"0", "0", "false"}) args.push_back(rest);
  return args;
}

struct Timing {
  std::vector<double> wall, cpu;
  void add(double w, double c) { wall.push_back(w), cpu.push_back(c); }
};

[[maybe_unused]] void printRatio(const char* what, double ours, double theirs) {
  std::printf("  %-44s %.3f s vs %.3f s: ratio %.2f\n", what, ours, theirs, theirs > 0 ? ours / theirs : 0.0);
}

struct MapCase {
  const char* name;
  double ratioTarget;  // whole process against OpenCV on one thread
};

// Memory in a fresh process, then the runs; prints the figures. False when a
// run failed.
bool benchMap(const char* self, const std::string& dir, const MapCase& map, int size, int reps,
              [[maybe_unused]] bool withOpenCv) {
  const std::string name = map.name;
  double rssPerPixel = -1, addressPerPixel = -1;
  {
    int pipeFd[2];
    if (pipe(pipeFd) != 0) return false;
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(pipeFd[1], STDOUT_FILENO);
      const std::string sizeText = std::to_string(size);
      execl("/proc/self/exe", self, "--size", sizeText.c_str(), "--map", name.c_str(), "--memory-child",
            dir.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(pipeFd[1]);
    char buf[128] = {0};
    const ssize_t got = read(pipeFd[0], buf, sizeof buf - 1);
    close(pipeFd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (got > 0) std::sscanf(buf, "%lf %lf", &rssPerPixel, &addressPerPixel);
  }

  // Runs alternate between the detectors, so that both see the same load.
  std::vector<double> ours, decode, classifyLabel, statsText, write, cv1, cv2;
  Timing oursProcess, cv1Process, cv2Process;
  int blobs = 0;
  [[maybe_unused]] int cvBlobs = 0;
  for (int r = 0; r < reps; ++r) {
    double s = 0, cpu = 0;
    blobs = runFindSpots(dir, name, s);
    ours.push_back(s);
    const Stages st = runStages(dir, name, size);
    decode.push_back(st.decode), classifyLabel.push_back(st.classifyLabel);
    statsText.push_back(st.statsText), write.push_back(st.write);
    if (!runProcess(sceneHostFindSpots(dir, name), s, cpu)) {
      std::fprintf(stderr, "scenehost findSpots failed\n");
      return false;
    }
    oursProcess.add(s, cpu);
#ifdef BENCH_WITH_OPENCV
    if (!withOpenCv) continue;
    for (int threads : {1, 2}) {
      cv::setNumThreads(threads);
      cvBlobs = runOpenCv(dir, name, s);
      (threads == 1 ? cv1 : cv2).push_back(s);
      if (!runProcess({"/proc/self/exe", "--map", name, "--opencv-child", dir, std::to_string(threads)}, s, cpu)) {
        std::fprintf(stderr, "the OpenCV child failed\n");
        return false;
      }
      (threads == 1 ? cv1Process : cv2Process).add(s, cpu);
    }
#endif
  }
  std::printf("\n%s map: image %d x %d, %d blobs, fastest of %d runs each\n", name.c_str(), size, size, blobs,
              reps);
  std::printf("findSpots stages:\n");
  std::printf("  decode (CreateImageClip)            %.3f s\n", fastest(decode));
  std::printf("  classify + label                    %.3f s\n", fastest(classifyLabel));
  std::printf("  measure, result text, outline boxes %.3f s\n", fastest(statsText));
  std::printf("  write blobs.bmp (rows from the mask) %.3f s\n", fastest(write));
  std::printf("findSpots in process (ExecuteCommand): %.3f s\n", fastest(ours));
  std::printf("findSpots whole process (scenehost):   %.3f s wall, %.3f s CPU\n", fastest(oursProcess.wall),
              fastest(oursProcess.cpu));
#ifdef BENCH_WITH_OPENCV
  if (withOpenCv) {
    std::printf("OpenCV (%d blobs): in process %.3f s on 1 thread, %.3f s on 2; whole process %.3f s (CPU %.3f s) "
                "on 1 thread, %.3f s (CPU %.3f s) on 2\n",
                cvBlobs, fastest(cv1), fastest(cv2), fastest(cv1Process.wall), fastest(cv1Process.cpu),
                fastest(cv2Process.wall), fastest(cv2Process.cpu));
    std::printf("ratios findSpots / OpenCV:\n");
    const std::string target = "whole process, OpenCV on 1 thread (target <= " +
                               std::to_string(map.ratioTarget).substr(0, 4) + ")";
    printRatio(target.c_str(), fastest(oursProcess.wall), fastest(cv1Process.wall));
    printRatio("whole process, OpenCV on 2 threads", fastest(oursProcess.wall), fastest(cv2Process.wall));
    printRatio("whole process CPU, OpenCV on 1 thread", fastest(oursProcess.cpu), fastest(cv1Process.cpu));
    printRatio("in process, OpenCV on 1 thread", fastest(ours), fastest(cv1));
    printRatio("in process, OpenCV on 2 threads", fastest(ours), fastest(cv2));
  }
#else
  std::printf("OpenCV not found: no comparison\n");
#endif
  std::printf("peak resident memory beyond the host's decoded image: %.2f B/px (target <= 4); "
              "peak address space %.2f B/px\n",
              rssPerPixel, addressPerPixel);
  return true;
}

bool writeMap(const std::string& dir, const std::string& name, int size) {
  const std::string path = dir + "/" + name + ".bmp";
  if (name == "sparse") {
    if (sparseMap(size, path)) return true;
    std::fprintf(stderr, "cannot make the sparse map with make_sparse_map.py\n");
    return false;
  }
  const std::vector<std::uint8_t> bgr = townMap(size);
  const auto w = findspots::writeBMP(bgr.data(), size, size, 24, path.c_str());
  if (!w.ok) std::fprintf(stderr, "cannot write the test map: %s\n", w.reason.c_str());
  return w.ok;
}

}  // namespace

int main(int argc, char** argv) {
  int size = 4096, reps = 5;
  [[maybe_unused]] bool withOpenCv = true;
  bool scaling = true;
  std::string childDir, onlyMap, mapName = "town";
  [[maybe_unused]] int openCvChildThreads = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--size" && i + 1 < argc) size = std::atoi(argv[++i]);
    else if (a == "--reps" && i + 1 < argc) reps = std::max(1, std::atoi(argv[++i]));
    else if (a == "--memory-child" && i + 1 < argc) childDir = argv[++i];
    else if (a == "--opencv-child" && i + 2 < argc) childDir = argv[++i], openCvChildThreads = std::atoi(argv[++i]);
    else if (a == "--no-opencv") withOpenCv = false;
    else if (a == "--no-scaling") scaling = false;
    else if (a == "--map" && i + 1 < argc) onlyMap = mapName = argv[++i];
  }
#ifdef BENCH_WITH_OPENCV
  if (openCvChildThreads > 0) {
    cv::setNumThreads(openCvChildThreads);
    fs::current_path(childDir);
    double s = 0;
    return runOpenCv(childDir, mapName, s) > 0 ? 0 : 1;
  }
#endif
  if (!childDir.empty()) return memoryChild(childDir, mapName, size);

  const std::string dir = (fs::temp_directory_path() / ("bench_blobs_" + std::to_string(getpid()))).string();
  fs::create_directories(dir);
  const MapCase maps[] = {{"town", 0.20}, {"sparse", 0.30}};
  for (const MapCase& m : maps)
    if ((onlyMap.empty() || onlyMap == m.name) && !writeMap(dir, m.name, size)) return 1;

  host::PluginManager pm(host::Runtime::Get());
  if (!pm.Load(XSI_BINARY_DIR "/plugins/findSpots.so").Succeeded()) return 1;
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  bool ok = true;
  for (const MapCase& m : maps)
    if (onlyMap.empty() || onlyMap == m.name) ok = benchMap(argv[0], dir, m, size, reps, withOpenCv) && ok;

  if (scaling && ok) {
    // Time against size on the sparse map: the time per pixel should hold.
    std::printf("\nscaling, sparse map, in process (fastest of %d; linear when ns/px holds):\n", reps);
    for (int side : {1024, 2048, 3072, 4096}) {
      const std::string name = "scale" + std::to_string(side);
      if (!sparseMap(side, dir + "/" + name + ".bmp")) return 1;
      std::vector<double> t;
      int blobs = 0;
      for (int r = 0; r < reps; ++r) {
        double s = 0;
        blobs = runFindSpots(dir, name, s);
        t.push_back(s);
      }
      const double px = static_cast<double>(side) * side;
      std::printf("  %5d x %-5d %6d blobs  %.4f s  %.2f ns/px\n", side, side, blobs, fastest(t),
                  fastest(t) / px * 1e9);
      fs::remove(dir + "/" + name + ".bmp");
    }
  }
  fs::current_path(previous);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return ok ? 0 : 1;
}
