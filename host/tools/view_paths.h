// What `scenehost view` may serve, decided from the request line alone:
// the request target is checked and turned into a relative path (one
// decoded name per folder level) before the file system is ever asked.
// Where the path then leads (links) is checked by the server itself.
#pragma once

#include <string>
#include <vector>

namespace scenehost::view {

struct TargetCheck {
  bool ok = false;
  int status = 400;                   // when refused: 400 malformed, 404 not served
  std::string reason;                 // when refused: why, for the error page and the log
  std::vector<std::string> segments;  // when ok: the decoded path, one name a level
};

// Checks an HTTP request target ("/data/tiles/0.glb?x=1"). The path must be
// origin-form (start with '/'); the query and fragment are dropped. Each
// level is percent-decoded on its own and refused when the decoded name:
//   - is empty (a doubled slash, which could make the rest absolute),
//   - starts with '.' ("..", ".", hidden files such as .git),
//   - holds '/', '\', a NUL or another control byte (an encoded "%2f"),
// and the whole is refused when a '%' is not followed by two hex digits.
// A target ending in '/' names a folder, which is never listed: 404.
// Nothing here touches the file system.
TargetCheck CheckRequestTarget(const std::string& target);

// The Content-Type for a file name, from its extension (ASCII case
// ignored); application/octet-stream for anything unknown.
const char* MimeTypeFor(const std::string& name);

}  // namespace scenehost::view
