#pragma once

#include <string>
#include <vector>

#include "engine/platform.hpp"

namespace tavrin {

// What the command line needs of the system it runs on beyond files: its
// arguments, its standard handles, and the terminal that it shows progress
// and asks questions on (a console on Windows).

// The program's arguments in UTF-8, without its name; on Windows they come
// from the wide command line, whatever the code page.
std::vector<std::string> programArguments(int argc, char** argv);
// Standard input, output and error: 0, 1 and 2.
FileHandle standardHandle(int which);
// The descriptors open now, at the start of the program; empty where no
// name stands for a descriptor (Windows).
std::vector<FileHandle> openDescriptors();
// Whether /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N and /proc/self/fd/N
// name the program's own descriptors, as on POSIX; on Windows they are paths
// on the current drive like any other.
bool hasDescriptorNames();

// What the command line does after guardProcess: on Windows the console
// shows UTF-8 while the program runs and gets its own code page back at the
// end, and Ctrl-C, Ctrl-Break, a closed console or the end of the session
// remove an unfinished output and clear the progress line before the program
// ends. POSIX signals are guardProcess's alone.
void guardTerminal();

// The terminal that questions are asked on, never standard input: `name` on
// POSIX (/dev/tty), the console on Windows. Both handles are kNoFile when
// there is none; on POSIX they are one descriptor.
struct Terminal {
  FileHandle input = kNoFile;
  FileHandle output = kNoFile;
};
Terminal openTerminal(const std::string& name);
void closeTerminal(const Terminal& terminal) noexcept;
// What openTerminal takes for the program's own terminal.
std::string ownTerminalName();
bool isTerminal(FileHandle file);
// The width of the terminal that `file` shows, or 0 when it is none.
int terminalColumns(FileHandle file);
// Whether the terminal that `file` shows takes escape sequences: not with
// TERM=dumb, and on Windows only when the console has them turned on.
bool takesEscapes(FileHandle terminal);
// A progress line is shown on `terminal` now (kNoFile: none any more). On
// Windows an interrupt clears it before the program ends; on POSIX it stays,
// as the terminal's ^C does, and the shell starts a new line.
void markProgressLine(FileHandle terminal) noexcept;

}  // namespace tavrin
