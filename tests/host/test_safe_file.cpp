// Saving through links, onto read-only and special files, and next to a
// link planted at a temporary name; reading only regular files of bounded
// size. Checked through the writers users reach (WriteGlb, WriteObj) and the
// reader (ReadObj), plus the writer's own rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <fstream>
#include <sstream>
#include <string>

#include "file_contents.h"
#include "format_test_util.h"
#include "formats.h"
#include "safe_file.h"
#include "temp_dir.h"
#include "xsi_file.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using testmesh::ReadFails;
using testsupport::Slurp;
using testsupport::TempDir;

unsigned ModeOf(const fs::path& p) {
  struct stat st;
  EXPECT_EQ(lstat(p.c_str(), &st), 0) << p;
  return st.st_mode & 07777;
}

struct OneTriangle {
  Mesh mesh;
  std::vector<ExportItem> items;
  OneTriangle() : mesh(testmesh::PlainTriangle(1)) {
    ExportItem item;
    item.name = "tri";
    item.mesh = &mesh;
    items = {item};
  }
};

bool IsGlb(const fs::path& p) { return Slurp(p).rfind("glTF", 0) == 0; }

// Nothing but the expected names is left in the folder (no temporaries).
void ExpectOnly(const fs::path& dir, std::set<std::string> names) {
  std::set<std::string> found;
  for (const auto& e : fs::directory_iterator(dir)) found.insert(e.path().filename().string());
  EXPECT_EQ(found, names);
}

TEST(SafeSave, LinkAtTheOldTemporaryNameIsNeverFollowed) {
  const TempDir dir;
  const OneTriangle s;
  const std::string victim = dir.Write("victim.txt", "precious");
  fs::create_symlink(victim, dir.File("out.glb.saving"));
  fs::create_symlink(victim, dir.File("out.obj.saving"));
  fs::create_symlink(victim, dir.File("out.mtl.saving"));
  std::string error;
  ASSERT_TRUE(WriteGlb(dir.File("out.glb"), s.items, error)) << error;
  ASSERT_TRUE(WriteObj(dir.File("out.obj"), s.items, error)) << error;
  EXPECT_EQ(Slurp(victim), "precious");
  EXPECT_TRUE(IsGlb(dir.File("out.glb")));
  EXPECT_TRUE(fs::is_symlink(dir.File("out.glb.saving")));
  ExpectOnly(dir.Path(), {"victim.txt", "out.glb", "out.obj", "out.mtl", "out.glb.saving",
                          "out.obj.saving", "out.mtl.saving"});
}

TEST(SafeSave, ReadOnlyTargetIsRefusedAndKept) {
  const TempDir dir;
  const OneTriangle s;
  const std::string glb = dir.Write("ro.glb", "old");
  chmod(glb.c_str(), 0444);
  std::string error;
  EXPECT_FALSE(WriteGlb(glb, s.items, error));
  EXPECT_EQ(error, "cannot write glTF file '" + glb + "': the file is read-only");
  EXPECT_EQ(Slurp(glb), "old");
  EXPECT_EQ(ModeOf(glb), 0444u);

  // A read-only .mtl stops the whole OBJ save before either file changes.
  const std::string obj = dir.Write("scene.obj", "old obj");
  const std::string mtl = dir.Write("scene.mtl", "old mtl");
  chmod(mtl.c_str(), 0400);
  EXPECT_FALSE(WriteObj(obj, s.items, error));
  EXPECT_EQ(error, "cannot write OBJ file '" + obj + "': its material file '" + mtl +
                       "' is read-only");
  EXPECT_EQ(Slurp(obj), "old obj");
  EXPECT_EQ(Slurp(mtl), "old mtl");
  ExpectOnly(dir.Path(), {"ro.glb", "scene.obj", "scene.mtl"});
}

TEST(SafeSave, NewFileKeepsTheOldFilesPermissions) {
  const TempDir dir;
  const OneTriangle s;
  const std::string glb = dir.Write("a.glb", "old");
  const std::string obj = dir.Write("b.obj", "old");
  const std::string mtl = dir.Write("b.mtl", "old");
  chmod(glb.c_str(), 0640);
  chmod(obj.c_str(), 0604);
  chmod(mtl.c_str(), 0600);
  std::string error;
  ASSERT_TRUE(WriteGlb(glb, s.items, error)) << error;
  ASSERT_TRUE(WriteObj(obj, s.items, error)) << error;
  EXPECT_TRUE(IsGlb(glb));
  EXPECT_EQ(ModeOf(glb), 0640u);
  EXPECT_EQ(ModeOf(obj), 0604u);
  EXPECT_EQ(ModeOf(mtl), 0600u);
  EXPECT_NE(Slurp(mtl).find("newmtl brick"), std::string::npos);

  // A file that did not exist gets the usual 0666 minus the umask.
  const mode_t mask = umask(022);
  ASSERT_TRUE(WriteGlb(dir.File("new.glb"), s.items, error)) << error;
  umask(mask);
  EXPECT_EQ(ModeOf(dir.File("new.glb")), 0644u);
}

TEST(SafeSave, LinkTargetIsWrittenAndTheLinkKept) {
  const TempDir dir;
  const OneTriangle s;
  fs::create_directory(dir.Path() / "real");
  const std::string real = dir.Write("real/scene.glb", "old");
  const std::string realMtl = dir.Write("real/m.mtl", "old");
  // A relative link, resolved against its own folder, and a chain of two.
  fs::create_symlink("real/scene.glb", dir.File("hop.glb"));
  fs::create_symlink("hop.glb", dir.File("link.glb"));
  fs::create_symlink(realMtl, dir.File("link.mtl"));
  std::string error;
  ASSERT_TRUE(WriteGlb(dir.File("link.glb"), s.items, error)) << error;
  EXPECT_TRUE(fs::is_symlink(dir.File("link.glb")));
  EXPECT_TRUE(fs::is_symlink(dir.File("hop.glb")));
  EXPECT_TRUE(IsGlb(real));

  ASSERT_TRUE(WriteObj(dir.File("link.obj"), s.items, error)) << error;
  EXPECT_TRUE(fs::is_symlink(dir.File("link.mtl")));
  EXPECT_NE(Slurp(realMtl).find("newmtl brick"), std::string::npos);
  EXPECT_NE(Slurp(dir.File("link.obj")).find("mtllib link.mtl"), std::string::npos);
  ExpectOnly(dir.Path() / "real", {"scene.glb", "m.mtl"});
}

TEST(SafeSave, SpecialTargetsAreRefused) {
  const TempDir dir;
  const OneTriangle s;
  std::string error;
  fs::create_symlink(dir.File("missing.glb"), dir.File("dangling.glb"));
  EXPECT_FALSE(WriteGlb(dir.File("dangling.glb"), s.items, error));
  EXPECT_EQ(error, "cannot write glTF file '" + dir.File("dangling.glb") +
                       "': the file is a link to a missing file ('" + dir.File("missing.glb") + "')");
  EXPECT_FALSE(fs::exists(dir.File("missing.glb")));

  ASSERT_EQ(mkfifo(dir.File("pipe.glb").c_str(), 0644), 0);
  EXPECT_FALSE(WriteGlb(dir.File("pipe.glb"), s.items, error));
  EXPECT_EQ(error, "cannot write glTF file '" + dir.File("pipe.glb") +
                       "': the file is not a regular file");
  EXPECT_TRUE(fs::is_fifo(dir.File("pipe.glb")));

  fs::create_directory(dir.Path() / "folder.glb");
  EXPECT_FALSE(WriteGlb(dir.File("folder.glb"), s.items, error));
  EXPECT_EQ(error, "cannot write glTF file '" + dir.File("folder.glb") +
                       "': the file is a folder, not a file");

  const std::string nowhere = dir.File("no_such_folder/x.glb");
  EXPECT_FALSE(WriteGlb(nowhere, s.items, error));
  EXPECT_EQ(error, "cannot write glTF file '" + nowhere +
                       "': the file is in a folder that does not exist");
  ExpectOnly(dir.Path(), {"dangling.glb", "pipe.glb", "folder.glb"});
}

TEST(SafeSave, PathWithANulByteIsRefused) {
  const TempDir dir;
  const OneTriangle s;
  const std::string obj = dir.File("x.obj");
  std::string error;
  // Cut at the NUL, the name would be x.obj: glTF written into an OBJ file.
  EXPECT_FALSE(WriteGlb(obj + std::string("\0.glb", 5), s.items, error));
  EXPECT_EQ(error, "cannot write glTF file '" + obj + "\\0.glb': the path has a NUL byte");
  EXPECT_FALSE(WriteObj(obj + std::string("\0.obj", 5), s.items, error));
  EXPECT_EQ(error, "cannot write OBJ file '" + obj + "\\0.obj': the path has a NUL byte");
  ExpectOnly(dir.Path(), {});
}

TEST(SafeSave, WriterDiscardsAnUncommittedFile) {
  const TempDir dir;
  const std::string target = dir.Write("t.txt", "old");
  std::string reason;
  {
    AtomicFileWriter w;
    ASSERT_TRUE(w.Begin(target, reason)) << reason;
    ASSERT_TRUE(w.Write("half", reason)) << reason;
    ASSERT_TRUE(w.Finish(reason)) << reason;
  }
  EXPECT_EQ(Slurp(target), "old");
  ExpectOnly(dir.Path(), {"t.txt"});
  ASSERT_TRUE(WriteFileAtomically(target, "new", reason)) << reason;
  EXPECT_EQ(Slurp(target), "new");
  ExpectOnly(dir.Path(), {"t.txt"});
}

// ---- the SDK's AtomicFile, the same writer behind the plug-in boundary --------

TEST(SdkAtomicFile, StreamsPiecesAndReplacesTheFileOnlyAtCommit) {
  const TempDir dir;
  const std::string target = dir.Write("t.bin", "old");
  XSI::AtomicFile file;
  XSI::CString message;
  ASSERT_TRUE(file.Begin(target, message).Succeeded()) << message.GetUtf8String();
  ASSERT_TRUE(file.Write("ab", 2, message).Succeeded());
  ASSERT_TRUE(file.Write(nullptr, 0, message).Succeeded());  // nothing to add
  ASSERT_TRUE(file.Write(std::string("c\0d", 3).data(), 3, message).Succeeded());
  EXPECT_EQ(Slurp(target), "old");
  ASSERT_TRUE(file.Commit(message).Succeeded()) << message.GetUtf8String();
  EXPECT_EQ(Slurp(target), std::string("abc\0d", 5));
  ExpectOnly(dir.Path(), {"t.bin"});

  // The file is done: another Commit or Write is a mistake, not a new save.
  EXPECT_EQ(file.Commit(message), XSI::CStatus::Fail);
  EXPECT_EQ(message.GetUtf8String(), "no file is open for writing");
  EXPECT_EQ(file.Write("x", 1, message), XSI::CStatus::Fail);
  EXPECT_EQ(Slurp(target), std::string("abc\0d", 5));
}

TEST(SdkAtomicFile, AnAbandonedOrFailedFileLeavesTheOldOneAndNoTemporary) {
  const TempDir dir;
  const std::string target = dir.Write("t.bin", "old");
  XSI::CString message;
  {
    XSI::AtomicFile file;
    ASSERT_TRUE(file.Begin(target, message).Succeeded());
    ASSERT_TRUE(file.Write("half", 4, message).Succeeded());
  }
  EXPECT_EQ(Slurp(target), "old");
  ExpectOnly(dir.Path(), {"t.bin"});

  // Bytes at a null pointer abandon the file too.
  XSI::AtomicFile file;
  ASSERT_TRUE(file.Begin(target, message).Succeeded());
  EXPECT_EQ(file.Write(nullptr, 3, message), XSI::CStatus::InvalidArgument);
  EXPECT_EQ(file.Commit(message), XSI::CStatus::Fail);
  EXPECT_EQ(Slurp(target), "old");
  ExpectOnly(dir.Path(), {"t.bin"});
}

TEST(SdkAtomicFile, RefusalsNameTheFileAndWhatIsWrong) {
  const TempDir dir;
  XSI::AtomicFile file;
  XSI::CString message;
  const std::string folder = dir.File("sub");
  fs::create_directory(folder);
  EXPECT_EQ(file.Begin(folder, message), XSI::CStatus::Fail);
  EXPECT_EQ(message.GetUtf8String(), "'" + folder + "' is a folder, not a file");

  const std::string nowhere = dir.File("missing/x.bin");
  EXPECT_EQ(file.Begin(nowhere, message), XSI::CStatus::Fail);
  EXPECT_EQ(message.GetUtf8String(), "'" + nowhere + "' is in a folder that does not exist");

  const std::string nul = dir.File("x.bin") + std::string("\0.y", 3);
  EXPECT_EQ(file.Begin(nul, message), XSI::CStatus::Fail);
  EXPECT_EQ(message.GetUtf8String(), "'" + dir.File("x.bin") + "\\0.y' has a NUL byte in its name");

  EXPECT_EQ(file.Write("x", 1, message), XSI::CStatus::Fail);
  EXPECT_EQ(message.GetUtf8String(), "no file is open for writing");
  ExpectOnly(dir.Path(), {"sub"});
}

// ---- reading ---------------------------------------------------------------

TEST(SafeRead, OnlyRegularFilesOfBoundedSizeAreRead) {
  const TempDir dir;
  // A FIFO nobody writes to: opening it must not hang.
  ASSERT_EQ(mkfifo(dir.File("pipe.obj").c_str(), 0644), 0);
  EXPECT_EQ(ReadFails(dir.File("pipe.obj")),
            "cannot read OBJ file '" + dir.File("pipe.obj") + "': is not a regular file");
  EXPECT_EQ(ReadFails("/dev/zero"), "cannot read OBJ file '/dev/zero': is not a regular file");

  // Sparse: the size is checked before any byte is read.
  const std::string big = dir.File("big.obj");
  std::ofstream(big).close();
  fs::resize_file(big, kMaxObjBytes + 1);
  EXPECT_EQ(ReadFails(big), "cannot read OBJ file '" + big + "': is larger than the limit of 256 MiB");

  const std::string a = dir.Write("a.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  EXPECT_EQ(ReadFails(a + std::string("\0junk", 5)),
            "cannot read OBJ file '" + a + "\\0junk': the path has a NUL byte");
}

// What stopped a read, for callers with their own messages (the script
// reader of scenehost): the kind of file, the limit, or the system's error.
TEST(SafeRead, TheFailureSaysWhatStoppedTheRead) {
  const TempDir dir;
  std::string bytes = "untouched", reason;
  ReadFailure failure;
  ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0644), 0);
  EXPECT_FALSE(ReadRegularFile(dir.File("pipe"), 100, bytes, reason, &failure));
  EXPECT_EQ(failure.what, ReadFailure::kNotRegular);
  EXPECT_STREQ(FileKindName(failure.mode), "a FIFO");
  EXPECT_FALSE(ReadRegularFile(dir.Path().string(), 100, bytes, reason, &failure));
  EXPECT_EQ(failure.what, ReadFailure::kNotRegular);
  EXPECT_EQ(reason, "is a folder, not a file");

  const std::string five = dir.Write("five", "12345");
  EXPECT_FALSE(ReadRegularFile(five, 4, bytes, reason, &failure));
  EXPECT_EQ(failure.what, ReadFailure::kTooLarge);
  EXPECT_EQ(reason, "is larger than the limit of 4 bytes");
  EXPECT_FALSE(ReadRegularFile(dir.File("none"), 4, bytes, reason, &failure));
  EXPECT_EQ(failure.what, ReadFailure::kSystem);
  EXPECT_EQ(failure.error, ENOENT);
  EXPECT_EQ(reason, "no such file");
  EXPECT_EQ(bytes, "untouched");

  ASSERT_TRUE(ReadRegularFile(five, 5, bytes, reason, &failure)) << reason;
  EXPECT_EQ(failure.what, ReadFailure::kNone);
  EXPECT_EQ(bytes, "12345");
}

TEST(SafeRead, MaterialLibraryMustBeARegularFileOfBoundedSize) {
  const TempDir dir;
  const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl m\nf 1 2 3\n";
  const std::string dev = dir.Write("dev.obj", "mtllib /dev/zero\n" + tri);
  EXPECT_EQ(ReadFails(dev), "cannot read OBJ file '" + dev +
                                "': line 1: material library '/dev/zero' is not a regular file");

  fs::create_directory(dir.Path() / "mats");
  const std::string folder = dir.Write("folder.obj", "# lib\nmtllib mats\n" + tri);
  EXPECT_EQ(ReadFails(folder), "cannot read OBJ file '" + folder +
                                   "': line 2: material library 'mats' is a folder, not a file");

  ASSERT_EQ(mkfifo(dir.File("pipe.mtl").c_str(), 0644), 0);
  const std::string pipe = dir.Write("pipe.obj", "mtllib pipe.mtl\n" + tri);
  EXPECT_EQ(ReadFails(pipe), "cannot read OBJ file '" + pipe +
                                 "': line 1: material library 'pipe.mtl' is not a regular file");

  std::ofstream(dir.File("big.mtl")).close();
  fs::resize_file(dir.File("big.mtl"), kMaxMtlBytes + 1);
  const std::string big = dir.Write("big.obj", "mtllib big.mtl\n" + tri);
  EXPECT_EQ(ReadFails(big), "cannot read OBJ file '" + big +
                                "': line 1: material library 'big.mtl' is larger than the limit "
                                "of 16 MiB");
}

}  // namespace
}  // namespace host
