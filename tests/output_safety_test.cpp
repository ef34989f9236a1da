// The built tavrin-cli as a shell user runs it: closed and redirected standard
// descriptors, links, protected files, failing writes, signals. Each case is a
// small shell script run in a folder of its own; what it leaves there and
// what the program said are checked afterwards.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "temp_dir.hpp"

namespace tavrin {
namespace {

struct Case {
  std::string name;
  std::string
      script;  // runs in the case's folder; $CLI is tavrin-cli, $SHIM the fault library (fault_shim.cpp)
  int status;  // the script's exit status
  std::map<std::string, std::string> files = {};  // what they hold afterwards
  std::string said = {};                          // a part of standard error
  std::size_t saidAtMost = 4096;                  // bytes on standard error
  bool needsPlainBuild = false;  // a sanitizer runtime cannot run under ulimit -v or LD_PRELOAD
};

const std::string kInput = "printf 'a,b\\n' > in; ";
const std::string kOutput = "EMail1\r\na\r\nb\r\n";
// About 3.8 MB of output, several writes' worth.
const std::string kBigInput = "seq -f 'name%g@example.org' 1 200000 | paste -d, - - - - > big; ";

struct Result {
  int status;
  std::string err;
};

Result runScript(const TempDir& dir, const std::string& script) {
  dir.write("case.sh", "set -u\n" + script + "\n");
  const std::string command = "cd '" + dir.file("") +
                              "' && CLI='" TAVRIN_CLI "' SHIM='" TAVRIN_FAULT_SHIM
                              "' bash case.sh 2>stderr.txt";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(dir.file("stderr.txt"))};
}

TEST(OutputSafety, NoRunDestroysOrCorruptsAFileItWasNotAskedToWrite) {
  const std::vector<Case> cases = {
      {"closed standard output does not lead to the input",
       kInput + R"("$CLI" -q in /dev/stdout >&- 2>&-)",
       2,
       {{"in", "a,b\n"}}},
      {"- names no standard output that was closed",
       kInput + R"("$CLI" in - >&-)",
       2,
       {},
       "'\u2068-\u2069' names standard output, which was closed when tavrin-cli started\n",
       200},
      {"- names no standard input that was closed",
       R"("$CLI" - out <&-; s=$?; [ ! -e out ] && exit $s)",
       2,
       {},
       "'\u2068-\u2069' names standard input, which was closed when tavrin-cli started\n",
       200},
      {"an appending redirection keeps what was there",
       kInput + R"(printf "old\n" > log; "$CLI" in /dev/stdout >> log)",
       0,
       {{"log", "old\n" + kOutput}}},
      {"a grouped command keeps its order",
       kInput + R"({ echo hdr; "$CLI" in -; echo done; } > f)",
       0,
       {{"f", "hdr\n" + kOutput + "done\n"}}},
      {"- reads standard input", R"(printf "a,b" | "$CLI" - out)", 0, {{"out", kOutput}}},
      {"one failed write leaves no gap",
       kBigInput + R"("$CLI" big ref && TAVRIN_FAULT=write:2:1:28 LD_PRELOAD="$SHIM" "$CLI" big out;)"
                   R"( s=$?; cmp -s out ref || exit 99; exit $s)",
       1,
       {},
       "No space left on device\nNumber: 28",
       4096,
       true},
      {"an output that keeps refusing data ends the run",
       kBigInput + R"(TAVRIN_FAULT=write:1:0:5 LD_PRELOAD="$SHIM" "$CLI" --on-line-error=continue big out)",
       2,
       {},
       "Input/output error(5)",
       4096,
       true},
      {"a dangling link is removed, not written through",
       kInput +
           R"(ln -s elsewhere/made out; "$CLI" in out; s=$?; [ ! -e elsewhere ] && [ ! -L out ] && exit $s)",
       0,
       {{"out", kOutput}}},
      {"a link found at the name is not followed",
       kInput + R"(ln -s /dev/null out; "$CLI" in out; s=$?; [ -L out ] && exit $s)",
       2,
       {},
       "Too many levels of symbolic links(40)"},
      {"a write-protected output is neither deleted nor replaced",
       kInput + R"(printf "keep\n" > out; chmod 444 out; "$CLI" in out)",
       2,
       {{"out", "keep\n"}},
       "Cannot write the output file \"\u2068out\u2069\", which is write-protected: Permission denied(13)"},
      {"asking needs a terminal; standard input is never asked",
       R"(printf "a@b\n" | setsid -w "$CLI" -u --on-line-error=ask /dev/stdin out)",
       2,
       {},
       "needs a terminal to ask on"},
      {"out of memory is a report, not a crash",
       R"(head -c 40000000 /dev/zero | tr "\0" , > sep; ulimit -v 60000; "$CLI" -q sep out)",
       2,
       {},
       "tavrin-cli: Out of memory at line 1 of the input file \"\u2068sep\u2069\": Cannot allocate "
       "memory(12)\n",
       4096,
       true},
      {"out of memory through a pipe is one report",
       R"(head -c 40000000 /dev/zero | tr "\0" , | (ulimit -v 60000; "$CLI" -q - out))",
       2,
       {},
       "tavrin-cli: Out of memory at line 1 of the input file \"\u2068-\u2069\": Cannot allocate "
       "memory(12)\n",
       4096,
       true},
      {"a failing line too long to copy is reported by its ends",
       R"(printf '"Last",' > in; head -c 30000000 /dev/zero | tr "\0" x >> in; ulimit -v 110000;)"
       R"( "$CLI" -u in out)",
       1,
       {{"out", ""}},
       "Number: 22\n",
       4096,
       true},
      {"a replaced output keeps its permissions and owner",
       kInput + R"sh(printf old > out; chmod 600 out; [ $(id -u) -ne 0 ] || chown 12345 out;)sh"
                R"sh( before=$(stat -c %a.%u out); "$CLI" in out; [ "$(stat -c %a.%u out)" = "$before" ])sh",
       0,
       {{"out", kOutput}}},
      {"an output given up is cut back to its last whole line",
       kBigInput +
           R"sh("$CLI" big ref && TAVRIN_FAULT=write:2:1:short,write:3:0:28 LD_PRELOAD="$SHIM")sh"
           R"sh( "$CLI" --on-line-error=continue big out; s=$?; [ "$(tail -c 2 out | od -An -tx1)" = " 0d 0a" ])sh"
           R"sh( && cmp -s -n "$(stat -c %s out)" out ref || exit 99; exit $s)sh",
       2,
       {},
       "No space left on device(28)\nThe output file \"\u2068out\u2069\" holds ",
       4096,
       true},
      {"an output that refuses data is given up once",
       R"sh(line=$(head -c 57000 /dev/zero | tr "\0" a); yes "$line" | head -n 40 > long; ulimit -f 1024;)sh"
       R"sh( "$CLI" --on-line-error=continue long out 2> err; s=$?; cat err >&2;)sh"
       R"sh( [ "$(grep -c "File too large(27)" err)" = 1 ] || exit 99; exit $s)sh",
       2,
       {},
       "File too large(27)",
       16384,
       true},
      {"memory stays bounded while the disk frees a little between lines",
       R"sh(line=$(head -c 67000 /dev/zero | tr "\0" a); yes "$line" | head -n 600 > long;)sh"
       R"sh( /usr/bin/time -f %M -o rss env TAVRIN_FAULT=write:2:0:drip LD_PRELOAD="$SHIM")sh"
       R"sh( "$CLI" --on-line-error=continue long out; s=$?; [ "$(tail -n 1 rss)" -lt 20000 ] || exit 99; exit $s)sh",
       2,
       {},
       "No space left on device(28)",
       65536,
       true},
      {"a replaced output keeps its access list",
       kInput + R"sh(printf old > out; setfacl -m u:65534:--- out; before=$(getfacl -c out);)sh"
                R"sh( "$CLI" in out; [ "$(getfacl -c out)" = "$before" ])sh",
       0,
       {{"out", kOutput}}},
      {"a file size limit is a failing write, not a cut file that looks finished",
       kBigInput + R"(ulimit -f 1024; "$CLI" --on-line-error=continue big out)",
       2,
       {},
       "File too large(27)",
       4096,
       true},
      {"more recipients than the count can hold end the run once",
       R"sh(yes "$(printf 'a,%.0s' $(seq 500))" | head -c 4400000000 | "$CLI" -q - /dev/null)sh",
       2,
       {},
       "More than 2147483647 recipients: Value too large for defined data type(75)\n",
       200,
       true},
      {"control characters in messages are shown escaped",
       R"(printf "\"Evil\033]0;owned\007\"\n" > in; "$CLI" -u in out; s=$?; grep -q $(printf "\033") stderr.txt && exit 99)"
       R"(; exit $s)",
       1,
       {},
       "\"Evil\\x1b]0;owned\\x07\""},
      {"a long failing line is cut in messages",
       R"(head -c 1000000 /dev/zero | tr "\0" a > in; printf ",\"Last\"\n" >> in; "$CLI" -u in out)",
       1,
       {},
       " [\u2026] "},
      {"help to a full disk fails", R"("$CLI" --help > /dev/full)", 2, {}, "No space left on device"},
      {"version to a full disk fails", R"("$CLI" --version > /dev/full)", 2, {}, "No space left on device"},
      {"a closed pipe ends the run with one message",
       kBigInput + R"("$CLI" -q big - | head -c 1 > /dev/null; exit ${PIPESTATUS[0]})",
       2,
       {},
       "Broken pipe(32)",
       200},
      {"messages that cannot be written end no run",
       R"sh(seq -f '"Last%g"' 1 20000 > bad; "$CLI" -u bad ref 2>/dev/null;)sh"
       R"sh( "$CLI" -u --on-line-error=continue bad out 2>&1 >/dev/null | head -c 300 >/dev/null;)sh"
       R"sh( s=${PIPESTATUS[0]}; cmp -s out ref || exit 99; exit $s)sh",
       1},
      {"an answer that cannot be read is no answer", kInput + R"sh(timeout 20 python3 -c '
import os, pty, sys
pid, terminal = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], [sys.argv[1], "--on-line-error=ask", "in", "/dev/full"])
said = b""
while b"[Y/n]" not in said:
    said += os.read(terminal, 1000)
os.write(terminal, b"\x04")  # the end of what is typed: no answer comes
try:
    while os.read(terminal, 1000):
        pass
except OSError:
    pass
_, status, usage = os.wait4(pid, 0)
sys.exit(98 if usage.ru_utime + usage.ru_stime > 2 else os.waitstatus_to_exitcode(status))
' "$CLI")sh",
       2},
      {"Ctrl-C removes the unfinished output",
       R"(set -m; mkfifo p; "$CLI" -q p out & exec 3> p; echo a,b >&3;)"
       R"( for i in $(seq 100); do [ -e out ] && break; sleep 0.05; done; [ -e out ] || exit 99;)"
       R"( kill -INT %1; wait %1; s=$?; [ ! -e out ] && exit $s)",
       128 + SIGINT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
#ifdef TAVRIN_SANITIZED
    if (c.needsPlainBuild) continue;
#endif
    TempDir dir;
    const Result r = runScript(dir, c.script);
    EXPECT_EQ(r.status, c.status) << r.err;
    for (const auto& [name, content] : c.files) EXPECT_EQ(readFile(dir.file(name)), content) << name;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err.substr(0, 500);
    EXPECT_LE(r.err.size(), c.saidAtMost);
  }
}

}  // namespace
}  // namespace tavrin
