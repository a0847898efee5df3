// The findSpots command's public face: plug-in and command names, the
// description and the thirteen positional arguments in declaration order.
// The run reads arguments by position, so this order is part of the command.
#pragma once

namespace findspots {

inline constexpr const wchar_t* kPluginName = L"findSpotsPlugin";
inline constexpr const wchar_t* kCommandName = L"findSpots";
inline constexpr const wchar_t* kCommandDescription = L"Detect blob from an image";

enum ArgumentPosition : int {
  kArgImagesPath = 0,
  kArgImageName,
  kArgMinBlobSize,
  kArgUseRGB,
  kArgChannelRed,
  kArgChannelGreen,
  kArgChannelBlue,
  kArgRangeR,
  kArgRangeG,
  kArgRangeB,
  kArgLuminanceValue,
  kArgLuminanceRange,
  kArgWithElevation,
  kArgumentCount
};

inline constexpr const wchar_t* kArgumentNames[kArgumentCount] = {
    L"IMAGESPATH", L"imageName",      L"minBlobSize",    L"useRGB", L"channelRed",
    L"channelGreen", L"channelBlue",  L"rangeR",         L"rangeG", L"rangeB",
    L"luminanceValue", L"luminanceRange", L"withelevation"};

}  // namespace findspots
