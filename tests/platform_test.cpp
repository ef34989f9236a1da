#include "engine/platform.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "temp_dir.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
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
  constexpr int kNobody = 65534;
  constexpr gid_t kUsers = 100;
  const bool root = ::geteuid() == 0;
  TempDir dir;
  fs::permissions(dir.file(""), fs::perms::all);  // other users find their way in
  struct Case {
    std::string name;
    // Makes the folder "f" and what stands at the name; the name, when another.
    std::function<std::string(const std::string& folder, const std::string& out)> make;
    OutputAction action;
    int error;      // of the refusal, or of opening what was decided
    int user = -1;  // decided by this user instead of the test's own
    bool needsRoot = false;
  };
  const auto file = [](const std::string& out, fs::perms mode, int owner = -1) {
    std::ofstream(out) << "old";
    fs::permissions(out, mode);
    if (owner >= 0 && ::chown(out.c_str(), owner, owner) != 0) ADD_FAILURE() << "chown";
  };
  const auto folder = [](const std::string& f, mode_t mode, int owner = -1, int group = -1) {
    fs::create_directory(f);
    if ((owner >= 0 || group >= 0) && ::chown(f.c_str(), owner, group) != 0) ADD_FAILURE() << "chown";
    ::chmod(f.c_str(), mode);
  };
  const auto attribute = [](const std::string& out, const char* flag) {
    std::string command = "chattr ";
    command.append(flag).append(" '").append(out).append("' 2>/dev/null");
    return std::system(command.c_str()) == 0;
  };
  using enum OutputAction;
  const auto rw = fs::perms::owner_read | fs::perms::owner_write;
  const auto everyone =
      fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
  const std::vector<Case> cases = {
      {"no file",
       [&](auto& f, auto&) {
         folder(f, 0755);
         return "";
       },
       Create, 0},
      {"a file of the user",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         file(out, rw);
         return "";
       },
       Replace, 0},
      {"another user's file in a sticky folder that everyone may write",
       [&](auto& f, auto& out) {
         folder(f, 01777);
         file(out, everyone, kNobody);
         return "";
       },
       Refuse, EACCES, -1, true},
      {"another user's file in a folder that everyone may write",
       [&](auto& f, auto& out) {
         folder(f, 0777);
         file(out, everyone, kNobody);
         return "";
       },
       Refuse, EACCES, -1, true},
      {"another user's file in a sticky folder that a group may write",
       [&](auto& f, auto& out) {
         folder(f, 01770, 0, kUsers);
         file(out, everyone, kNobody);
         return "";
       },
       Refuse, EACCES, -1, true},
      {"the file of the owner of a folder that everyone may write",
       [&](auto& f, auto& out) {
         folder(f, 01777, kNobody);
         file(out, rw, kNobody);
         return "";
       },
       Replace, 0, -1, true},
      {"a file with other names that cannot be removed",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         file(out, everyone);
         fs::create_hard_link(out, f + "/other");
         return "";
       },
       Refuse, EMLINK, kNobody, true},
      {"a file that cannot be removed",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         file(out, everyone);
         return "";
       },
       WriteInPlace, 0, kNobody, true},
      {"a read-only file",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         file(out, fs::perms::owner_read);
         return "";
       },
       Refuse, EACCES},
      {"an immutable file",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         file(out, rw);
         return attribute(out, "+i") ? "" : "skip";
       },
       Refuse, EPERM, -1, true},
      {"an append-only file",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         file(out, rw);
         return attribute(out, "+a") ? "" : "skip";
       },
       Refuse, EPERM, -1, true},
      {"a link to a file",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         file(f + "/target", rw);
         fs::create_symlink("target", out);
         return "";
       },
       Replace, 0},
      {"a dangling link",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         fs::create_symlink("nowhere/made", out);
         return "";
       },
       Replace, 0},
      {"a link loop",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         fs::create_symlink("out", out);
         return "";
       },
       Replace, 0},
      {"a link to a device",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         fs::create_symlink("/dev/null", out);
         return "";
       },
       Refuse, ELOOP},
      {"a named pipe without a reader",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         ::mkfifo(out.c_str(), 0600);
         return "";
       },
       WriteInPlace, EAGAIN},
      {"a named pipe with a reader",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         ::mkfifo(out.c_str(), 0600);
         ::open(out.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // open until the test ends
         return "";
       },
       WriteInPlace, 0},
      {"another user's named pipe in a folder that everyone may write",
       [&](auto& f, auto& out) {
         folder(f, 01777);
         ::mkfifo(out.c_str(), 0666);
         return ::chown(out.c_str(), kNobody, kNobody) == 0 ? "" : "skip";
       },
       Refuse, EACCES, -1, true},
      {"a character device", [](auto&, auto&) { return "/dev/null"; }, WriteInPlace, 0},
      {"a block device",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         return ::mknod(out.c_str(), S_IFBLK | 0600, makedev(7, 0)) == 0 ? "" : "skip";
       },
       Refuse, EOPNOTSUPP, -1, true},
      {"a folder",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         fs::create_directory(out);
         return "";
       },
       Refuse, EISDIR},
      {"a socket",
       [&](auto& f, auto& out) {
         folder(f, 0755);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         out.copy(address.sun_path, sizeof address.sun_path - 1);
         const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
         return ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? "" : "skip";
       },
       Refuse, ENXIO},
  };
  int skipped = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    if (c.needsRoot && !root) {
      ++skipped;
      continue;
    }
    const std::string f = dir.file("f") + std::to_string(i);
    std::string out = f + "/out";
    const std::string other = c.make(f, out);
    if (other == "skip") {
      ++skipped;
      attribute(out, "-ia");
      continue;
    }
    if (!other.empty()) out = other;
    const auto [decision, opened] = decideAndOpen(out, c.user);
    EXPECT_EQ(decision.action, c.action);
    EXPECT_EQ(decision.action == Refuse ? decision.error : opened, c.error);
    attribute(out, "-ia");
  }
  if (skipped > 0)
    std::cout << "Skipped " << skipped << " rows that need root or a file system that has them\n";
  EXPECT_EQ(readFile(dir.file("f11/target")), "old");  // a link goes, not what it leads to
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
