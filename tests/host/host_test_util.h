// Small helpers for host tests: a fresh scene per test, command shorthands,
// temporary folders and literal OBJ files.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "runtime.h"
#include "xsi_plugin.h"
#include "temp_dir.h"

namespace testutil {

namespace fs = std::filesystem;

inline XSI::CStatus Exec(const wchar_t* name, std::initializer_list<XSI::CValue> args,
                        XSI::CValue* out = nullptr) {
  XSI::CValueArray a;
  for (const auto& v : args) a.Add(v);
  XSI::CValue scratch;
  return XSI::Application().ExecuteCommand(name, a, out ? *out : scratch);
}

inline host::SceneObject* Find(const wchar_t* name) {
  return host::Runtime::Get().GetScene().Find(name);
}

// Last error logged, or "".
inline std::string LastError() {
  const auto& entries = host::Runtime::Get().GetJournal().Entries();
  for (auto it = entries.rbegin(); it != entries.rend(); ++it)
    if (it->kind == host::JournalEntry::Log && it->severity <= 2) return it->name.GetUtf8String();
  return "";
}

using testsupport::TempDir;

// A unit cube from (0,0,0) to (1,1,1): 8 positions, 6 quads.
inline const char* kCubeObj =
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
    "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 4 8 7 3\nf 1 5 8 4\nf 2 3 7 6\n";

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { host::Runtime::Get().ResetScene(); }
  void TearDown() override { host::Runtime::Get().ResetScene(); }
  TempDir dir_;
};

}  // namespace testutil
