// Shared helpers for the findSpots tests: pictures in the host's orientation
// written as image files, a scratch folder the run's "blobs.bmp" lands in,
// the real plug-in loaded into the real runtime, and runs of the command with
// their log lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <xsi_plugin.h>

#include "temp_dir.h"

namespace blobtest {

// An 8-bit RGB picture addressed like the host's images: (0, 0) is the
// bottom-left pixel, y runs up.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // (y * width + x) * 3: red, green, blue

  Picture() = default;
  Picture(int w, int h, std::uint8_t r = 0, std::uint8_t g = 0, std::uint8_t b = 0);
  void Set(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b);
  void SetGrey(int x, int y, std::uint8_t v) { Set(x, y, v, v, v); }
  const std::uint8_t* At(int x, int y) const {
    return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
  }
};

// A picture from text rows, top row first as it reads: '#' white, 'r', 'g',
// 'b' pure red, green, blue, anything else black.
Picture FromRows(const std::vector<std::string>& topFirst);

// BMP through the plug-in's own writer (bottom-up rows, so the host reads
// the picture back unchanged) and PNG through stb_image_write.
void WriteBmp(const Picture& p, const std::string& path);
void WritePng(const Picture& p, const std::string& path);

std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool FileExists(const std::string& path);

// A fresh folder under the system's temporary folder, removed with its
// contents at the end; while it lives the process works in it, so the run's
// "blobs.bmp" lands there. The previous working folder comes back after.
class ScratchDir {
 public:
  const std::string& Path() const { return path_; }
  // Path + "/" (the form IMAGESPATH takes).
  std::string Prefix() const { return path_ + "/"; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  // Members go in reverse: the working folder is restored before removal.
  testsupport::TempDir dir_{"findspots"};
  testsupport::WorkingDir cwd_{dir_.path()};
  std::string path_ = dir_.path().string();
};

// Loads <build>/plugins/findSpots.so once per process; the scene is reset.
void EnsurePluginLoaded();
void UnloadPlugin();

struct LogLine {
  std::string text;
  int severity = 0;
};

struct RunResult {
  XSI::CStatus status;
  XSI::CValue out;
  std::vector<LogLine> log;
  std::string Text() const { return out.GetAsText().GetUtf8String(); }
  bool Logged(const std::string& part, int severity) const;
  std::string LogText() const;
};

struct Args {
  std::string imagesPath;
  std::string imageName = "img";
  XSI::CValue minBlobSize = 0;
  XSI::CValue useRGB = true;
  XSI::CValue red = 1.0, green = 1.0, blue = 1.0;
  XSI::CValue rangeR = 0.0, rangeG = 0.0, rangeB = 0.0;
  XSI::CValue luminanceValue = 0.0, luminanceRange = 0.0;
  XSI::CValue withElevation = false;
};

// Runs "findSpots" through Application::ExecuteCommand, catching the log.
RunResult RunFindSpots(const Args& a);
RunResult RunCommand(const std::wstring& name, const XSI::CValueArray& args);

// "blobs.bmp" of the working folder decoded back to a picture by stb_image
// (empty picture when missing or undecodable).
Picture DecodeWithStb(const std::vector<std::uint8_t>& file);

}  // namespace blobtest
