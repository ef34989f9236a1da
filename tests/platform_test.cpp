#include "engine/platform.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "temp_dir.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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

TEST(Platform, OutputIsNewUnderAnyNameAndGoesWhenItsRunStops) {
  TempDir dir;
  // Non-ASCII names pass as UTF-8, whatever the system's code page.
  const std::string name = dir.file("Empf\xC3\xA4nger \xE2\x9C\x89.csv");
  const Opened created = openOutput(name, decideOutput(name));
  ASSERT_EQ(created.error, 0);
  EXPECT_EQ(writeTo(created.file, "a\r\n\x1A\n", 5).count, 5u);  // bytes, no text mode
  EXPECT_EQ(closeFile(created.file), 0);
  EXPECT_EQ(readFile(name), "a\r\n\x1A\n");
  // A name that is there is never opened as a new output.
  EXPECT_EQ(openOutput(name, OutputDecision{}).error, EEXIST);
  EXPECT_EQ(readFile(name), "a\r\n\x1A\n");

  const std::string unfinished = dir.file("unfinished.csv");
  const Opened stopped = openOutput(unfinished, decideOutput(unfinished));
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

#ifndef _WIN32
// The decision on what stands at the output's name, and what opening the
// output then gives (0, or its errno number), as `user` (-1: the test's own).
std::pair<OutputDecision, int> decideAndOpen(const std::string& path, int user) {
  const auto decideHere = [&] {
    const OutputDecision decision = decideOutput(path);
    int opened = 0;
    if (decision.action != OutputAction::Refuse) {
      removeOldOutput(path, decision);
      const Opened output = openOutput(path, decision);
      opened = output.error;
      closeFile(output.file);
    }
    return std::pair(decision, opened);
  };
  if (user < 0) return decideHere();
  int answer[2];
  if (::pipe(answer) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(user, user, user) != 0 ||
        ::setresuid(user, user, user) != 0)
      ::_exit(1);
    const auto [decision, opened] = decideHere();
    const int numbers[] = {static_cast<int>(decision.action), decision.error, opened};
    ::_exit(::write(answer[1], numbers, sizeof numbers) == sizeof numbers ? 0 : 1);
  }
  ::close(answer[1]);
  int numbers[3] = {-1, -1, -1};
  const bool read = ::read(answer[0], numbers, sizeof numbers) == sizeof numbers;
  ::close(answer[0]);
  ::waitpid(child, nullptr, 0);
  if (!read) return {};
  OutputDecision decision;
  decision.action = static_cast<OutputAction>(numbers[0]);
  decision.error = numbers[1];
  return {decision, numbers[2]};
}

TEST(Platform, WhatStandsAtTheOutputsNameDecidesWhatTheRunDoes) {
  TempDir dir;
  fs::permissions(dir.file(""), fs::perms::all);  // other users find their way in
  struct Case {
    std::string name;
    // Shell commands in a folder of the row's own (mode 0755) that put up what
    // stands at the name "out"; a row whose commands fail (not root, no
    // chattr) is skipped.
    std::string make;
    OutputAction action;
    int error;      // of the refusal, or of opening what was decided
    int user = -1;  // decided by this user instead of the test's own
  };
  using enum OutputAction;
  const std::string nobody = "65534";
  const std::vector<Case> cases = {
      {"no file", "true", Create, 0},
      {"a file of the user", "echo old > out", Replace, 0},
      {"another user's file in a sticky folder that everyone may write",
       "chmod 1777 . && echo old > out && chmod 666 out && chown " + nobody + " out", Refuse, EACCES},
      {"another user's file in a folder that everyone may write",
       "chmod 777 . && echo old > out && chown " + nobody + " out", Refuse, EACCES},
      {"another user's file in a sticky folder that a group may write",
       "chgrp 100 . && chmod 1770 . && echo old > out && chown " + nobody + " out", Refuse, EACCES},
      {"the file of the owner of a folder that everyone may write",
       "chown " + nobody + " . && chmod 1777 . && echo old > out && chown " + nobody + " out", Replace, 0},
      {"a file with other names that cannot be removed", "echo old > out && chmod 666 out && ln out other",
       Refuse, EMLINK, 65534},
      {"a file that cannot be removed", "echo old > out && chmod 666 out", WriteInPlace, 0, 65534},
      {"a read-only file", "echo old > out && chmod 444 out", Refuse, EACCES},
      {"an immutable file", "echo old > out && chattr +i out 2>/dev/null", Refuse, EPERM},
      {"an append-only file", "echo old > out && chattr +a out 2>/dev/null", Refuse, EPERM},
      {"a link to a file", "echo old > target && ln -s target out", Replace, 0},
      {"a dangling link", "ln -s nowhere/made out", Replace, 0},
      {"a link loop", "ln -s out out", Replace, 0},
      {"a link to a device", "ln -s /dev/null out", Refuse, ELOOP},
      {"a named pipe without a reader", "mkfifo out", WriteInPlace, EAGAIN},
      // The reader says when it holds the pipe open.
      {"a named pipe with a reader",
       "mkfifo out && (sh -c 'exec 3<>out; : > held; sleep 5' >/dev/null 2>&1 &) && until [ -e held ]; do "
       "sleep 0.01; done",
       WriteInPlace, 0},
      {"another user's named pipe in a folder that everyone may write",
       "chmod 1777 . && mkfifo -m 666 out && chown " + nobody + " out", Refuse, EACCES},
      {"a character device", "mknod out c 1 3", WriteInPlace, 0},
      {"a block device", "mknod out b 7 0", Refuse, EOPNOTSUPP},
      {"a folder", "mkdir out", Refuse, EISDIR},
      {"a socket", "python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind(\"out\")'", Refuse, ENXIO},
  };
  int skipped = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const std::string folder = dir.file("f") + std::to_string(i);
    fs::create_directory(folder);
    if (std::system(("cd '" + folder + "' && chmod 755 . && " + c.make).c_str()) != 0) {
      ++skipped;
      continue;
    }
    const auto [decision, opened] = decideAndOpen(folder + "/out", c.user);
    EXPECT_EQ(decision.action, c.action);
    EXPECT_EQ(decision.action == Refuse ? decision.error : opened, c.error);
    std::system(("chattr -ia '" + folder + "/out' 2>/dev/null").c_str());
    if (c.name == "a link to a file") {
      EXPECT_EQ(readFile(folder + "/target"), "old\n");  // the link goes, not what it leads to
    }
  }
  if (skipped > 0) std::cout << "Skipped " << skipped << " rows that need root or chattr\n";
}
#endif

#ifdef _WIN32
TEST(Platform, WhatStandsAtTheOutputsNameDecidesWhatTheRunDoes) {
  TempDir dir;
  const std::string target = dir.write("target.txt", "kept");
  const std::string readOnly = dir.write("read-only.txt", "old");
  SetFileAttributesW(pathOf(readOnly).c_str(), FILE_ATTRIBUTE_READONLY);
  const bool links =
      CreateSymbolicLinkW(pathOf(dir.file("link.csv")).c_str(), pathOf(target).c_str(),
                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
      CreateSymbolicLinkW(pathOf(dir.file("dangling.csv")).c_str(), pathOf(dir.file("nowhere.txt")).c_str(),
                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
      fs::is_symlink(pathOf(dir.file("link.csv")));  // Wine answers yes and makes none
  struct Case {
    std::string path;
    OutputAction action;
    int error = 0;  // of the refusal
  };
  using enum OutputAction;
  std::vector<Case> cases = {
      {dir.file("new.csv"), Create},
      {dir.write("old.csv", "old"), Replace},
      {readOnly, Refuse, EACCES},
      {dir.file(""), Refuse, EISDIR},
      {"NUL", WriteInPlace},
      {"nul", WriteInPlace},
      {R"(\\.\PhysicalDrive0)", Refuse, EOPNOTSUPP},
      {R"(\\.\C:)", Refuse, EOPNOTSUPP},
      {"//./Q:", Refuse, EOPNOTSUPP},
      {R"(\\?\GLOBALROOT\Device\HarddiskVolume1)", Refuse, EOPNOTSUPP},
      {R"(\\?\)" + dir.file("new.csv"), Create},
      {"CON", Refuse, ENODEV},
      {"aux", Refuse, ENODEV},
      {dir.file("con.txt"), Refuse, ENODEV},
      {dir.file("COM1"), Refuse, ENODEV},
      {dir.file("lpt9.csv"), Refuse, ENODEV},
      {dir.file("console.csv"), Create},
      {dir.file("com0.csv"), Create},
  };
  if (links) {
    cases.push_back({dir.file("link.csv"), Replace});
    cases.push_back({dir.file("dangling.csv"), Replace});
  } else {
    std::cout << "Skipped the rows of links: this system makes none for this program (scripts/windows tries "
                 "them)\n";
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const OutputDecision decision = decideOutput(c.path);
    EXPECT_EQ(decision.action, c.action);
    EXPECT_EQ(decision.error, c.error);
    if (decision.action == Replace) {
      EXPECT_EQ(removeOldOutput(c.path, decision), 0);
      EXPECT_FALSE(fs::exists(fs::symlink_status(pathOf(c.path))));
    }
  }
  EXPECT_EQ(readFile(target), "kept");  // a link goes, not what it leads to
  SetFileAttributesW(pathOf(readOnly).c_str(), FILE_ATTRIBUTE_NORMAL);
}
#endif

}  // namespace
}  // namespace tavrin
