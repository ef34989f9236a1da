#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tavrin {

// The calls that differ between POSIX and Windows: files, handles, and what
// becomes of an unfinished output when the program is stopped. The rest of
// the engine is written once, over these. Errors are errno numbers on both
// systems, so that reports read alike.

// A descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// Which file a name or a handle leads to.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;  // the file index on Windows
  bool regular = false;

  bool operator==(const FileId&) const = default;
  // Whether both lead to one regular file, so that writing one destroys the
  // other. A device or a pipe may well be both input and output.
  bool isSameRegularFile(const FileId& other) const { return regular && *this == other; }
};

struct FileInfo {
  FileId id;
  bool directory = false;
  std::uint64_t size = 0;  // of a regular file
};

// Follows links; nothing when the name or handle leads nowhere.
std::optional<FileInfo> infoOf(const std::string& path);
std::optional<FileInfo> infoOf(FileHandle file);

// A handle, or the errno number of why there is none, and the system's own
// words for why where the errno number's would mislead (Windows: a name that
// it does not take); empty otherwise.
struct Opened {
  FileHandle file = kNoFile;
  int error = 0;
  std::string words = {};
};

// Opens a file for reading, shared with other programs that read, write or
// delete it; a folder is refused (EISDIR). Opening never waits, not even for
// the writer of a named pipe.
Opened openForReading(const std::string& path);
// A copy of a handle that the program was given (standard input or output),
// so that closing it leaves the program's own.
Opened copyOf(FileHandle inherited);

// What a new output takes over from the file it replaces: its permission
// bits, its access list, and for root also its owner.
struct Ownership {
  std::uint32_t mode = 0;
  std::uint32_t user = 0;
  std::uint32_t group = 0;
  bool keepsOwner = false;
  std::string accessList;  // the POSIX access ACL as the system stores it; empty when there is none
};

// What a run does with what stands at the output's name. It is decided once,
// before anything is removed or opened; removing the old output, creating
// the new one and the owner rule follow the decision and nothing else.
enum class OutputAction {
  Create,        // the name is free
  Replace,       // the entry (a file of the user's, a link) is removed and a new file made
  WriteInPlace,  // a device, a pipe, or a file that cannot be removed: written as it stands
  Refuse,
};
struct OutputDecision {
  OutputAction action = OutputAction::Create;
  std::optional<FileId> entry;        // Replace and WriteInPlace: the entry that was decided on
  std::optional<Ownership> replaced;  // Replace of a regular file: what the new file takes over
  int error = 0;                      // Refuse: the errno number
  std::string reason;                 // Refuse: what stands there, as ", which is a folder"
};
OutputDecision decideOutput(const std::string& path);
// Removes the entry that a Replace decision was made on, while the name still
// leads to it: 0, or the errno number of why it stays.
int removeOldOutput(const std::string& path, const OutputDecision& decision);
// Opens the output as decided, after removeOldOutput. A new file is created,
// never through a link, and takes over what the decision says; a name that
// someone took meanwhile is refused (EEXIST). An entry written in place is
// opened only while it is the very one decided on. EAGAIN: a named pipe that
// has no reader yet; try again later.
Opened openOutput(const std::string& path, const OutputDecision& decision);
// Cuts a regular file back to `size` bytes: 0, or the errno number.
int truncateFile(FileHandle file, std::uint64_t size);

// How long the program waits on a pipe or a device before the front end
// gets control again.
inline constexpr std::chrono::milliseconds kWaitSlice{100};

// Bytes moved, or an errno number. Reading 0 bytes without an error is the
// end of the file; EAGAIN means nothing can move now (see waitForFile), or,
// from a read, that nothing came within kWaitSlice.
struct Moved {
  std::size_t count = 0;
  int error = 0;
};
Moved readFrom(FileHandle file, char* into, std::size_t size);
Moved writeTo(FileHandle file, const char* from, std::size_t size);
// Waits at most `slice` until the file can be read (or written) without
// blocking; false when the time ran out first.
bool waitForFile(FileHandle file, bool writing, std::chrono::milliseconds slice);
// 0, or the errno number of a failure that closing reports (a delayed write).
int closeFile(FileHandle file) noexcept;

// The words for an errno number.
std::string describeError(int number);

// What a front end does first, so that no run can damage a file it was not
// asked to write: standard input, output and error that were closed are
// opened on the null device, so that no file the run opens takes their place.
// On POSIX, SIGINT, SIGTERM and SIGHUP remove an output that a run created
// and has not finished, then end the program as the signal would; on
// Windows, where only a program with a text window gets such events, that
// program calls removeUnfinishedOutput itself. A file size limit or a closed pipe
// makes a write fail instead of ending the program. Tells which of standard
// input, output and error were closed.
using ClosedAtStart = std::array<bool, 3>;
ClosedAtStart guardProcess();
// The output that a run created at `path` is under way: an interrupt
// removes it, if the name still leads to that file.
void markOutputUnfinished(const std::string& path, FileHandle file);
// The run is over: an interrupt leaves the output as it is.
void markOutputFinished() noexcept;
// Removes the unfinished output now, as an interrupt would, and closes `file`
// (kNoFile: nothing).
void removeUnfinishedOutput(FileHandle file) noexcept;
}  // namespace tavrin
