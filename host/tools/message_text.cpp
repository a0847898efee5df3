#include "message_text.h"

#include <cstdint>

namespace scenehost {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

std::string HexByte(unsigned char byte) {
  return std::string("\\x") + kHex[byte >> 4] + kHex[byte & 0xF];
}

std::string UnicodeEscape(char32_t cp) {
  std::string out = "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 0xF];
  return out;
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence at `at` (RFC 3629: no overlong
// forms, no surrogates, nothing past U+10FFFF), or 0 when it is malformed.
std::size_t SequenceLength(std::string_view text, std::size_t at, char32_t& cp) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  const auto second = static_cast<unsigned char>(text[at + 1]);
  if (second < low || second > high) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto byte = static_cast<unsigned char>(text[at + k]);
    if (!IsContinuation(byte)) return 0;
    cp = (cp << 6) | (byte & 0x3F);
  }
  return length;
}

// Characters that are valid but would hide or reorder text on a terminal.
bool IsInvisibleControl(char32_t cp) {
  return (cp >= 0x80 && cp <= 0x9F) || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF;
}

// The shown form of the character at `at`; `consumed` says how many input
// bytes it stands for.
std::string ShownCharacter(std::string_view text, std::size_t at, std::size_t& consumed) {
  const auto byte = static_cast<unsigned char>(text[at]);
  consumed = 1;
  if (byte >= 0x20 && byte < 0x7F) return std::string(1, static_cast<char>(byte));
  if (byte == '\n') return "\\n";
  if (byte == '\r') return "\\r";
  if (byte == '\t') return "\\t";
  if (byte < 0x80) return HexByte(byte);
  char32_t cp = 0;
  const std::size_t length = SequenceLength(text, at, cp);
  if (length == 0) return HexByte(byte);
  consumed = length;
  if (IsInvisibleControl(cp)) return UnicodeEscape(cp);
  return std::string(text.substr(at, length));
}

}  // namespace

std::string ShownText(std::string_view text, std::size_t maxBytes) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t consumed = 0;
    const std::string shown = ShownCharacter(text, at, consumed);
    if (out.size() + shown.size() > maxBytes) {
      const std::size_t left = text.size() - at;
      return out + "... (" + std::to_string(left) + (left == 1 ? " more byte)" : " more bytes)");
    }
    out += shown;
    at += consumed;
  }
  return out;
}

}  // namespace scenehost
