// The C++ side of bench_python: 10,000 Duplicate calls through
// host::Runtime::Execute, in batches of 100 whose copies are deleted
// (untimed) after each batch, so that the scene stays small and the
// measure is the call, not the name search in a growing scene.
//
//   bench_python_cpp CUBE.obj   -> prints "seconds <total timed>"
#include <chrono>
#include <cstdio>
#include <string>

#include "runtime.h"

namespace {

constexpr int kCalls = 10000;
constexpr int kBatch = 100;

bool Run(host::Runtime& rt, const wchar_t* name, const XSI::CValueArray& args) {
  XSI::CValue out;
  return rt.Execute(name, args, out).Succeeded();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_python_cpp CUBE.obj\n");
    return 2;
  }
  host::Runtime& rt = host::Runtime::Get();
  XSI::CValueArray import;
  import.Add(XSI::CValue(XSI::CString::FromUtf8(argv[1])));
  if (!Run(rt, L"ObjImport", import)) return 1;

  XSI::CValueArray duplicate;
  duplicate.Add(XSI::CValue(XSI::CString(L"cube")));
  std::wstring copies;
  for (int i = 1; i <= kBatch; ++i) copies += (i > 1 ? L"," : L"") + (L"cube" + std::to_wstring(i));
  XSI::CValueArray remove;
  remove.Add(XSI::CValue(XSI::CString(copies.c_str())));

  std::chrono::duration<double> timed{0};
  for (int done = 0; done < kCalls; done += kBatch) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) {
      if (!Run(rt, L"Duplicate", duplicate)) return 1;
    }
    timed += std::chrono::steady_clock::now() - start;
    if (!Run(rt, L"DeleteObj", remove)) return 1;
    // The journal records every call; keep it from growing across batches.
    rt.GetJournal().Clear();
  }
  std::printf("seconds %.6f\n", timed.count());
  return 0;
}
