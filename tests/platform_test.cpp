#include "engine/platform.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "temp_dir.hpp"

namespace tavrin {
namespace {

namespace fs = std::filesystem;

std::string readAll(FileHandle file) {
  std::string text;
  char buffer[256];
  for (Moved moved; (moved = readFrom(file, buffer, sizeof buffer)).count > 0;)
    text.append(buffer, moved.count);
  return text;
}

TEST(Platform, FilesAreKnownByWhatTheyAreNotByTheirNames) {
  TempDir dir;
  const std::string file = dir.write("a.txt", "a");
  const std::string other = dir.write("b.txt", "b");
  fs::create_hard_link(file, dir.file("hard.txt"));
  const std::optional<FileInfo> info = infoOf(file);
  ASSERT_TRUE(info);
  EXPECT_TRUE(info->id.regular);
  EXPECT_FALSE(info->directory);
  EXPECT_EQ(info->size, 1u);
  EXPECT_TRUE(info->id.isSameRegularFile(infoOf(dir.file("hard.txt"))->id));
  EXPECT_FALSE(info->id.isSameRegularFile(infoOf(other)->id));
  EXPECT_TRUE(infoOf(dir.file(""))->directory);
  EXPECT_FALSE(infoOf(dir.file("missing.txt")));
}

TEST(Platform, OldOutputGoesOnlyWhenItIsAFile) {
  TempDir dir;
  struct Case {
    std::string name;
    std::function<void()> make;
    bool removed;
  };
  const std::vector<Case> cases = {
      {"file.txt", [&] { dir.write("file.txt", "x"); }, true},
      {"hard.txt",
       [&] {
         dir.write("linked.txt", "kept under its other name");
         fs::create_hard_link(dir.file("linked.txt"), dir.file("hard.txt"));
       },
       true},
      {"folder", [&] { fs::create_directory(dir.file("folder")); }, false},
      {"missing.txt", [] {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.make();
    const bool existed = fs::exists(dir.file(c.name));
    const OldOutput old = removeOldOutput(dir.file(c.name));
    EXPECT_EQ(fs::exists(dir.file(c.name)), existed && !c.removed);
    EXPECT_EQ(old.kept.has_value(), existed && !c.removed);
  }
  EXPECT_EQ(readFile(dir.file("linked.txt")), "kept under its other name");
}

TEST(Platform, OutputIsNewUnderAnyNameAndGoesWhenItsRunStops) {
  TempDir dir;
  // Non-ASCII names pass as UTF-8, whatever the system's code page.
  const std::string name = dir.file("Empf\xC3\xA4nger \xE2\x9C\x89.csv");
  const Opened created = openOutput(name, {});
  ASSERT_EQ(created.error, 0);
  EXPECT_EQ(writeTo(created.file, "a\r\n\x1A\n", 5).count, 5u);  // bytes, no text mode
  EXPECT_EQ(closeFile(created.file), 0);
  EXPECT_EQ(readFile(name), "a\r\n\x1A\n");
  // A name that is there is never opened as a new output.
  EXPECT_EQ(openOutput(name, {}).error, EEXIST);
  EXPECT_EQ(readFile(name), "a\r\n\x1A\n");

  const std::string unfinished = dir.file("unfinished.csv");
  const Opened stopped = openOutput(unfinished, {});
  ASSERT_EQ(stopped.error, 0);
  markOutputUnfinished(unfinished, stopped.file);
  removeUnfinishedOutput(stopped.file);
  EXPECT_FALSE(fs::exists(unfinished));
}

TEST(Platform, InputIsSharedWithOthersWhoReadWriteAndDeleteIt) {
  TempDir dir;
  const std::string name = dir.write("in.txt", "first");
  const Opened input = openForReading(name);
  ASSERT_EQ(input.error, 0);
  dir.write("in.txt", "other");
  EXPECT_TRUE(fs::remove(name));
  EXPECT_EQ(readAll(input.file), "other");
  closeFile(input.file);
  EXPECT_FALSE(fs::exists(name));
  EXPECT_EQ(openForReading(dir.file("")).error, EISDIR);
  EXPECT_EQ(openForReading(name).error, ENOENT);
}

TEST(Platform, WriteProtectionIsTheLackOfWritePermission) {
  TempDir dir;
  const std::string name = dir.write("out.txt", "x");
  EXPECT_FALSE(isWriteProtected(name));
  fs::permissions(name, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_TRUE(isWriteProtected(name));
  EXPECT_FALSE(isWriteProtected(dir.file("")));
  fs::permissions(name, fs::perms::owner_write, fs::perm_options::add);
}

}  // namespace
}  // namespace tavrin
