// XSI_API marks what libxsisdk.so exports: the SDK's classes and calls.
// The library is built with hidden visibility, so nothing else in it (the
// runtime behind the calls above all) is part of the plug-in boundary; the
// CTest sdk_exports_only_the_sdk checks that.
#pragma once

#define XSI_API __attribute__((visibility("default")))
