// The SDK version: the version of the plug-in boundary (headers, the layout
// of the SDK classes and the entry points), not of the scenehost product.
//
// A plug-in built against major.minor runs in a host whose SDK has the same
// major and the same or a newer minor. Bump the minor for additions that
// leave older plug-ins working; bump the major (and reset the minor) for
// anything that changes what a built plug-in relies on: a class's size or
// members, a virtual function, a callback signature, a removed call.
#pragma once

#define XSI_SDK_VERSION_MAJOR 2
#define XSI_SDK_VERSION_MINOR 1

// The exported C symbol in which every plug-in records the SDK version it
// was compiled against (xsi_plugin.h defines it): two unsigned ints,
// { major, minor }. The host reads it before it calls into the plug-in.
#define XSI_SDK_VERSION_SYMBOL "XSIPluginSDKVersion"
