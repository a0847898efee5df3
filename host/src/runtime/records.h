// Records behind the SDK's handles: command definitions, command contexts,
// plug-in registrars and image clips. The runtime owns them; handles refer to
// them by id.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <xsi_ref.h>
#include <xsi_status.h>
#include <xsi_string.h>
#include <xsi_value.h>

#include "image_data.h"

namespace host {

struct ArgumentDef {
  XSI::CString name;
  XSI::CValue defaultValue;
};

// A command definition. Host commands are filled in at start; plug-in
// commands by the loader, whose `run` calls _Init once, then _Execute.
struct CommandDef {
  std::uint64_t id = 0;
  XSI::CString name;
  XSI::CString scriptName;
  XSI::CString owner;  // "host", or the plug-in's name
  XSI::CString description;
  bool returnsValue = false;
  std::vector<ArgumentDef> arguments;
  // Positional arguments as given; fills `out`. May throw: Execute catches.
  std::function<XSI::CStatus(const XSI::CValueArray& args, XSI::CValue& out)> run;
};

struct ContextRecord {
  std::uint64_t id = 0;
  XSI::CRef source;  // the command being defined or run
  std::map<XSI::CString, XSI::CValue> attributes;
};

struct RegistrarRecord {
  std::uint64_t id = 0;
  std::string libraryPath;
  XSI::CString name, author, email, url;
  long versionMajor = 0, versionMinor = 0;
  std::vector<std::pair<XSI::CString, XSI::CString>> commands;  // name, script name
};

// Identifies one version of a file: the same path, device, inode, size and
// modification time.
struct FileStamp {
  std::uint64_t device = 0, inode = 0;
  std::int64_t size = 0, mtimeSec = 0, mtimeNsec = 0;
  bool valid = false;
  bool operator==(const FileStamp& o) const {
    return valid && o.valid && device == o.device && inode == o.inode && size == o.size &&
           mtimeSec == o.mtimeSec && mtimeNsec == o.mtimeNsec;
  }
};

// An image loaded by "CreateImageClip". It lives with the scene: "NewScene",
// a reset and "DeleteImageClip" free it (an Image handle taken from it keeps
// its pixels alive until the handle goes).
struct ClipRecord {
  std::uint64_t id = 0;
  XSI::CString name;
  std::string path;
  std::shared_ptr<const XSI::detail::ImageData> image;
  FileStamp stamp;  // of the file when it was read
  // Set when the clip holds a window of the file, not the whole picture.
  std::optional<PixelWindow> window;
};

}  // namespace host
