#include "platform/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "platform/binio.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

TEST(AtomicWrite, ReplacesWholeFileAndLeavesNoTemporary) {
  test::TempDir dir;
  std::string path = dir.file("a.dat");
  test::write_text(path, "old contents that are longer");
  ASSERT_TRUE(write_text_atomic(path, "new"));
  EXPECT_EQ(test::read_text(path), "new");
  EXPECT_EQ(list_directory(dir.path()).size(), 1u);
}

// Fails every write of one path at one step, as a full disk would.
class FailingStep : public WriteFaults {
 public:
  FailingStep(std::string path, WriteStep step) : path_(std::move(path)), step_(step) {}
  int before(const std::string& path, WriteStep step) override {
    return path == path_ && step == step_ ? ENOSPC : 0;
  }

 private:
  std::string path_;
  WriteStep step_;
};

// A failure at any step of a replacement leaves the old file whole and no
// temporary behind; a folder that does not exist fails too.
TEST(AtomicWrite, FailureLeavesOldFileUntouched) {
  test::TempDir dir;
  const std::string target = dir.file("report.txt");
  test::write_text(target, "old contents");
  for (WriteStep step : {WriteStep::kCreate, WriteStep::kWrite, WriteStep::kSync, WriteStep::kRename}) {
    FailingStep faults(target, step);
    std::string error;
    EXPECT_FALSE(write_text_atomic(target, "new contents", &error, &faults));
    EXPECT_EQ(error, std::strerror(ENOSPC));
    EXPECT_EQ(test::read_text(target), "old contents");
    EXPECT_EQ(list_directory(dir.path()), std::vector<std::string>{"report.txt"});
  }
  std::string error;
  EXPECT_FALSE(write_text_atomic(dir.file("missing-folder/a.dat"), "x", &error));
  EXPECT_FALSE(error.empty());
}

// Temporaries that a killed run left beside a target are removed once
// stale (a fresh one may belong to a run still writing); target names of
// up to 255 bytes can be replaced.
TEST(AtomicWrite, StaleTemporariesGoAndLongNamesFit) {
  test::TempDir dir;
  const std::string target = dir.file("report.txt");
  const std::string stale = temporary_name_for(target, 0x1234abcdu);
  const std::string fresh = temporary_name_for(target, 0x99990000u);
  test::write_text(stale, "half");
  test::write_text(fresh, "half");
  std::string ignored;
  ASSERT_EQ(test::run_command("touch -d '2 hours ago' '" + stale + "'", &ignored), 0);
  ASSERT_TRUE(write_text_atomic(target, "new contents"));
  EXPECT_FALSE(file_exists(stale));
  EXPECT_TRUE(file_exists(fresh));
  EXPECT_EQ(test::read_text(target), "new contents");

  const std::string longest = dir.file(std::string(255, 'n'));
  EXPECT_TRUE(write_text_atomic(longest, "x"));
  EXPECT_EQ(test::read_text(longest), "x");
  EXPECT_LE(base_name(temporary_name_for(longest, 0)).size(), 47u);
}

TEST(ResolvePath, FindsNamesIgnoringCaseInEachComponent) {
  test::TempDir dir;
  ASSERT_TRUE(make_directories(dir.file("DefaultFiles")));
  test::write_text(dir.file("DefaultFiles/Normal.000"), "x");
  EXPECT_EQ(resolve_path(dir.file("defaultfiles/NORMAL.000")), dir.file("DefaultFiles/Normal.000"));
  EXPECT_EQ(resolve_path(dir.file("nothing/here")), dir.file("nothing/here"));
}

TEST(PathParts, SplitAndJoin) {
  EXPECT_EQ(join_path("/a/b/", "c.dat"), "/a/b/c.dat");
  EXPECT_EQ(join_path("", "c.dat"), "c.dat");
  EXPECT_EQ(base_name("/a/b/c.dat"), "c.dat");
  EXPECT_EQ(dir_name("/a/b/c.dat"), "/a/b");
  EXPECT_EQ(extension_of("/a.b/c.tar.gz"), "gz");
  EXPECT_EQ(extension_of("/a.b/c"), "");
}

TEST(Wildcard, MatchesPatternsIgnoringCase) {
  EXPECT_TRUE(wildcard_match("*.dat", "SP0001.DAT"));
  EXPECT_FALSE(wildcard_match("*.dat", "SP0001.DAT.bak"));
  EXPECT_TRUE(wildcard_match("*.s0", "x.S0"));
  EXPECT_TRUE(wildcard_match("a?c", "abc"));
}

TEST(BinaryFields, LittleEndianRoundTripsAtOffsets) {
  std::uint8_t b[16] = {};
  bin::put_i16(b, -2);
  bin::put_i32(b + 2, 0x12345678);
  bin::put_f32(b + 6, 1.5f);
  EXPECT_EQ(b[0], 0xfe);
  EXPECT_EQ(b[1], 0xff);
  EXPECT_EQ(b[2], 0x78);
  EXPECT_EQ(b[5], 0x12);
  EXPECT_EQ(b[9], 0x3f);  // 1.5f = 0x3fc00000
  EXPECT_EQ(b[8], 0xc0);
  EXPECT_EQ(bin::get_i16(b), -2);
  EXPECT_EQ(bin::get_i32(b + 2), 0x12345678);
  EXPECT_EQ(bin::get_f32(b + 6), 1.5f);
  std::uint8_t t[4];
  bin::put_text(t, 4, "cpm", true);
  EXPECT_EQ(bin::get_text(t, 4), "cpm");
  bin::put_text(t, 4, "Bq/g", false);
  EXPECT_EQ(bin::get_text(t, 4), "Bq/g");
}

}  // namespace
}  // namespace kestrim
