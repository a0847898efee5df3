// Text from script files and command lines, made fit to echo in a message.
//
// A word in an error can be anything a file holds: megabytes long, or full
// of control bytes that would drive the terminal. ShownText keeps printable
// ASCII and well-formed UTF-8 as they are and spells out the rest:
//   \n \r \t             for those three control bytes,
//   \xNN                 for any other control byte (C0, DEL) and for every
//                        byte of malformed UTF-8 (stray continuation bytes,
//                        overlong forms, surrogates, cut-off sequences),
//   \u0085 \u202E ...    for C1 controls and the characters that reorder or
//                        break a line on screen (bidi controls, U+2028/9).
// A backslash itself stays as it is ("home\builder" reads as written).
// When the shown form would pass `maxBytes`, it is cut at a character
// boundary and ends with "... (N more bytes)", N counting the input bytes
// left out. So the result is never longer than maxBytes + kCutNoteBytes and
// holds no byte below 0x20 and no 0x7F.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace scenehost {

constexpr std::size_t kShownWordBytes = 200;   // for a word echoed in an error
constexpr std::size_t kShownLineBytes = 4096;  // for a whole log line
constexpr std::size_t kCutNoteBytes = 40;      // longest "... (N more bytes)"

std::string ShownText(std::string_view text, std::size_t maxBytes = kShownWordBytes);

}  // namespace scenehost
