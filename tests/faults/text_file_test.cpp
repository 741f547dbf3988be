#include "tov32/faults/text_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "tests/support/fakes.h"
#include "tests/support/temp_dir.h"
#include "tov32/platform/machine.h"

namespace {

using norva_test::ReadFile;
using norva_test::WriteFile;
using tov32::platform::ScopedReplacement;

class WriteTextFileTest : public ::testing::Test {
 protected:
  norva_test::TempDir dir;
  const std::string file = dir.Path("report.txt");
};

TEST_F(WriteTextFileTest, CreatesReplacesAndAppends) {
  EXPECT_EQ(tov32::WriteTextFile("abc", file, false, "caller"), 1);
  EXPECT_EQ(ReadFile(file), "abc");
  EXPECT_EQ(tov32::WriteTextFile("xy\r\n", file, false, ""), 1);
  EXPECT_EQ(ReadFile(file), "xy\r\n");
  EXPECT_EQ(tov32::WriteTextFile("def", file, true, ""), 2);
  EXPECT_EQ(ReadFile(file), "xy\r\ndef");
  const std::string fresh = dir.Path("fresh.txt");
  EXPECT_EQ(tov32::WriteTextFile("new", fresh, true, ""), 1);
  EXPECT_EQ(ReadFile(fresh), "new");
}

TEST_F(WriteTextFileTest, EmptyContentTouchesNothing) {
  WriteFile(file, "keep");
  EXPECT_EQ(tov32::WriteTextFile("", file, false, ""), -1);
  EXPECT_EQ(ReadFile(file), "keep");
  EXPECT_EQ(tov32::WriteTextFile("", dir.Path("none.txt"), true, ""), -1);
  EXPECT_FALSE(std::filesystem::exists(dir.Path("none.txt")));
}

TEST_F(WriteTextFileTest, DirectoryOrMissingFolderIsAFault) {
  EXPECT_EQ(tov32::WriteTextFile("abc", dir.root().string(), false, ""), -5);
  EXPECT_EQ(tov32::WriteTextFile("abc", dir.root().string(), true, ""), -5);
  EXPECT_EQ(tov32::WriteTextFile("abc", dir.Path("missing/x.txt"), false, ""), -5);
}

#ifndef _WIN32
// With bAppend false the writer would delete the device node first.
TEST_F(WriteTextFileTest, FullDeviceIsAFaultAndLeavesNoDescriptorOpen) {
  const int before = tov32::platform::OpenHandleCount();
  EXPECT_EQ(tov32::WriteTextFile("abc", "/dev/full", true, ""), -5);
  EXPECT_EQ(tov32::platform::OpenHandleCount(), before);
}
#endif

TEST_F(WriteTextFileTest, RefusedDeletionLeavesTheFileUntouched) {
  const std::filesystem::path folder = dir.root() / "locked";
  std::filesystem::create_directory(folder);
  const std::string locked = (folder / "file.txt").string();
  WriteFile(locked, "old");
#ifdef _WIN32
  std::filesystem::permissions(locked, std::filesystem::perms::owner_write | std::filesystem::perms::group_write | std::filesystem::perms::others_write, std::filesystem::perm_options::remove);
#else
  std::filesystem::permissions(folder, std::filesystem::perms::owner_write | std::filesystem::perms::group_write | std::filesystem::perms::others_write, std::filesystem::perm_options::remove);
#endif
  const std::int32_t result = tov32::WriteTextFile("new", locked, false, "");
  if (result == 1) GTEST_SKIP() << "this user may delete read-only entries here";
  EXPECT_EQ(result, -4);
  EXPECT_EQ(ReadFile(locked), "old");
}

// A file that nobody may write to is not replaced, not even by root; on
// Windows each of these modes is the read-only attribute.
TEST_F(WriteTextFileTest, WriteProtectedFilesAreNotReplaced) {
  namespace fs = std::filesystem;
  const std::pair<const char*, fs::perms> modes[] = {
      {"0444", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read},
      {"0400", fs::perms::owner_read},
      {"0555", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read | fs::perms::group_exec |
                   fs::perms::others_read | fs::perms::others_exec},
  };
  for (const auto& mode : modes) {
    const std::string protectedFile = dir.Path(std::string("mode") + mode.first + ".txt");
    WriteFile(protectedFile, "old");
    fs::permissions(protectedFile, mode.second);
    EXPECT_EQ(tov32::WriteTextFile("new", protectedFile, false, ""), -4) << mode.first;
    EXPECT_EQ(ReadFile(protectedFile), "old") << mode.first;
    fs::permissions(protectedFile, fs::perms::owner_write, fs::perm_options::add);
  }
}

// Appends land at the end of files past 4 GiB; sparse files keep the disk
// free.
TEST_F(WriteTextFileTest, AppendsAtTheEndOfFilesOfFourGibibytesAndMore) {
  for (const std::uintmax_t size : {std::uintmax_t{0xFFFFFFFF}, std::uintmax_t{5} << 30}) {
    const std::string large = dir.Path("large.bin");
    WriteFile(large, "");
    std::filesystem::resize_file(large, size);
    ASSERT_EQ(std::filesystem::file_size(large), size);
    EXPECT_EQ(tov32::WriteTextFile("abc", large, true, ""), 2) << size;
    EXPECT_EQ(std::filesystem::file_size(large), size + 3) << size;
    std::ifstream file(large, std::ios::binary);
    file.seekg(-4, std::ios::end);
    char tail[4] = {};
    file.read(tail, 4);
    EXPECT_EQ(std::string(tail, 4), std::string("\0abc", 4)) << size;
    file.close();
    std::filesystem::remove(large);
  }
}

TEST_F(WriteTextFileTest, CodesForFilesThatDoNotGoOrComeBack) {
  norva_test::FakeFiles files;
  ScopedReplacement<tov32::platform::Files> use(files);
  WriteFile(file, "old");

  files.remove = [](const std::string&) { return false; };
  EXPECT_EQ(tov32::WriteTextFile("new", file, false, ""), -4);
  EXPECT_EQ(ReadFile(file), "old");

  files.remove = [](const std::string&) { return true; };  // pending deletion
  EXPECT_EQ(tov32::WriteTextFile("new", file, false, ""), -2);
  EXPECT_EQ(ReadFile(file), "old");

  int searches = 0;  // absent at the first look, there at the second
  files.entry = [&](const std::string& path) {
    return ++searches == 1 ? tov32::platform::SearchResult{} : tov32::platform::Native<tov32::platform::Files>().Entry(path);
  };
  EXPECT_EQ(tov32::WriteTextFile("new", file, false, ""), -3);
  EXPECT_EQ(ReadFile(file), "oldnew");
}

class FailingFile : public tov32::platform::WritableFile {
 public:
  explicit FailingFile(bool& closed) : closed_(closed) {}
  ~FailingFile() override { closed_ = true; }
  bool Write(std::string_view) override { return false; }
  bool Close() override { return true; }

 private:
  bool& closed_;
};

class FilesThatFailToWrite : public norva_test::FakeFiles {
 public:
  bool closed = false;
  std::unique_ptr<tov32::platform::WritableFile> Create(const std::string&) override {
    return std::make_unique<FailingFile>(closed);
  }
};

TEST_F(WriteTextFileTest, FailedWriteIsAFaultAndClosesTheFile) {
  FilesThatFailToWrite files;
  ScopedReplacement<tov32::platform::Files> use(files);
  EXPECT_EQ(tov32::WriteTextFile("abc", file, false, ""), -5);
  EXPECT_TRUE(files.closed);
}


#ifndef _WIN32
// On POSIX every byte but '/' may stand in a file name: pattern syntax in a
// name is taken as it is, and only the named file is touched.
TEST(WriteTextFileNames, PatternBytesAreOrdinaryBytes) {
  struct Case {
    std::string name;
    std::vector<std::string> neighbours;  // existing, holding "n"
    bool existing;                        // the target exists, holding "abc"
    bool bAppend;
    std::int32_t code;
    std::string content;
  };
  const Case cases[] = {
      {"log[1].txt", {"log1.txt"}, true, true, 2, "abcdef"},
      {"log[1].txt", {"log1.txt"}, true, false, 1, "def"},
      {"log[1].txt", {"log1.txt"}, false, true, 1, "def"},
      {"a*b.txt", {"aXb.txt"}, false, false, 1, "def"},
      {"a*b.txt", {"aXb.txt"}, true, true, 2, "abcdef"},
      {"a?b.txt", {"aXb.txt"}, false, true, 1, "def"},
      {"back\\slash.txt", {"backslash.txt"}, true, true, 2, "abcdef"},
      {"[x].txt", {"x.txt", ".hidden"}, false, false, 1, "def"},
  };
  for (const Case& c : cases) {
    norva_test::TempDir dir;
    for (const std::string& neighbour : c.neighbours) WriteFile(dir.Path(neighbour), "n");
    if (c.existing) WriteFile(dir.Path(c.name), "abc");
    EXPECT_EQ(tov32::WriteTextFile("def", dir.Path(c.name), c.bAppend, ""), c.code) << c.name;
    EXPECT_EQ(ReadFile(dir.Path(c.name)), c.content) << c.name;
    for (const std::string& neighbour : c.neighbours) EXPECT_EQ(ReadFile(dir.Path(neighbour)), "n") << c.name;
  }
}
#endif

}  // namespace
