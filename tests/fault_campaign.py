#!/usr/bin/env python3
"""Fails each system call of whole tavrin-cli runs in turn and checks what
must hold after every one.

Each run of the table below is made once cleanly, counting its calls, then
once for every counted call with that call failing in each way of FAULTS.
After every faulted run: it ended within seconds without spinning, within
the memory bound; it either held the fault (status 0, the clean output, no
message) or ended with status 1 or 2 and exactly one message, naming the
file; the input is as it was; the output is missing, as it was before the
run, or a start of the clean output that ends on a whole line; and a report
that says how many records the output holds says it right.

Usage: fault_campaign.py TAVRIN_CLI FAULT_SHIM
"""

import errno
import itertools
import os
import pty
import re
import select
import signal
import sys
import tempfile
import time

CLI, SHIM = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])

# How each call is made to fail.
FAULTS = {
    "open": [errno.EIO, errno.EINTR, errno.ENOSPC],
    "read": [errno.EIO, errno.EINTR, "short"],
    "write": [errno.EIO, errno.ENOSPC, errno.EINTR, errno.EPIPE, "short"],
    "ftruncate": [errno.EIO, errno.EINTR],
    "fchmod": [errno.EIO],
    "fchown": [errno.EIO],
    "fsync": [errno.EIO],
    "close": [errno.EIO, errno.ENOSPC, errno.EINTR],
    "unlink": [errno.EIO, errno.EINTR],
}
WALL_LIMIT = 10  # seconds
CPU_LIMIT = 2  # seconds of processor time
# Peak resident memory beyond the clean run's, in KiB: a fault may hold the
# output of one more line in memory, not the whole output.
MEMORY_MARGIN = 16 << 10

OLD_OUTPUT = b"an output from before\r\n"


def sample(utf16):
    """About 1.2 MB of recipients: its output takes more than one write."""
    lines = []
    for n in range(12000):
        lines.append(f'"Last{n}, First" <first.last{n}@example.org>, name{n}@example.org, , '
                     f'"Quote, {n}" <q{n}@example.org>')
    text = "\r\n".join(lines) + "\r\n"
    return b"\xff\xfe" + text.encode("utf-16-le") if utf16 else text.encode()


class Spawned:
    """A program with pipes to its standard input and output."""

    def __init__(self, command, env, piped_input, err):
        input_read, input_write = os.pipe() if piped_input else (os.open(os.devnull, os.O_RDONLY), None)
        output_read, output_write = os.pipe()
        actions = [(os.POSIX_SPAWN_DUP2, input_read, 0), (os.POSIX_SPAWN_DUP2, output_write, 1),
                   (os.POSIX_SPAWN_DUP2, err.fileno(), 2)]
        self.pid = os.posix_spawnp(command[0], command, env, file_actions=actions)
        os.close(input_read)
        os.close(output_write)
        self.stdin = open(input_write, "wb", buffering=0) if piped_input else None
        self.stdout = open(output_read, "rb", buffering=0)

    def kill(self, pid_path):
        with open(pid_path) as f:
            os.kill(int(f.read()), signal.SIGKILL)


def run(args, folder, stdin, terminal, env):
    """Runs tavrin-cli; answers Yes on a terminal when asked."""
    err_path = os.path.join(folder, "err")
    with open(err_path, "wb") as err:
        master = slave = None
        if terminal:
            master, slave = pty.openpty()
            slave_name = os.ttyname(slave)

        # The peak memory of a process counts what it was forked or spawned
        # from: time, which is small, starts the program and tells its peak.
        # sh notes the program's process (for a kill), goes to the folder
        # and, for a terminal, makes the pty the controlling terminal of the
        # session that setsid made.
        rss_path = os.path.join(folder, "rss")
        pid_path = os.path.join(folder, "pid")
        # Only the program gets the fault library.
        script = 'echo $$ > "$1" && cd "$0" && shift && export LD_PRELOAD="$TAVRIN_FAULT_SHIM" && exec "$@"'
        if terminal:
            script = ('echo $$ > "$1" && cd "$0" && exec 3<>"$2" && exec 3>&- && shift 2 && '
                      'export LD_PRELOAD="$TAVRIN_FAULT_SHIM" && exec "$@"')
        command = ["/usr/bin/time", "-q", "-f", "%M", "-o", rss_path, "setsid", "sh", "-c", script, folder, pid_path]
        command += ([slave_name] if terminal else []) + [CLI] + args
        start = time.monotonic()
        process = Spawned(command, env, stdin is not None, err)
        pending_input = stdin or b""
        stdout = b""
        said = b""
        streams = [process.stdout] + ([master] if master is not None else [])
        if stdin is not None:
            os.set_blocking(process.stdin.fileno(), False)
            streams.append(process.stdin)
        hung = False
        # The terminal stays open here too, so that it never hangs up meanwhile.
        while process.stdout in streams:
            if time.monotonic() - start > WALL_LIMIT:
                process.kill(pid_path)
                hung = True
                break
            readable = [s for s in streams if s is not process.stdin]
            writable = [process.stdin] if process.stdin in streams else []
            ready_read, ready_write, _ = select.select(readable, writable, [], 0.1)
            for stream in ready_write:
                try:
                    pending_input = pending_input[os.write(stream.fileno(), pending_input[:65536]):]
                except BlockingIOError:
                    continue
                except BrokenPipeError:
                    pending_input = b""
                if not pending_input:
                    stream.close()
                    streams.remove(stream)
            for stream in ready_read:
                fd = stream if isinstance(stream, int) else stream.fileno()
                try:
                    chunk = os.read(fd, 65536)
                except OSError:
                    chunk = b""
                if not chunk:
                    streams.remove(stream)
                elif stream is master:
                    said += chunk
                    if said.endswith(b"[Y/n] "):
                        os.write(master, b"y\n")
                        said = b""
                else:
                    stdout += chunk
        if process.stdin in streams:
            process.stdin.close()
        process.stdout.close()
        _, status, usage = os.wait4(process.pid, 0)
        if master is not None:
            os.close(master)
            os.close(slave)
    with open(err_path, "rb") as err:
        messages = err.read().decode(errors="replace")
    return {
        "status": -1 if hung else os.waitstatus_to_exitcode(status),
        "err": messages,
        "stdout": stdout,
        "cpu": usage.ru_utime + usage.ru_stime,
        "rss": int(open(rss_path).read().split()[-1]),
    }


def line_end(utf16):
    return "\r\n".encode("utf-16-le") if utf16 else b"\r\n"


def records_in(output, utf16):
    lines = output.count(line_end(utf16))
    return max(lines - 1, 0)


def check(variant, clean, faulted, before, after, output):
    """What must hold after one faulted run; the list of what did not."""
    unbuild, utf16, piped, policy = variant
    wrong = []
    if faulted["status"] == -1:
        return [f"still running after {WALL_LIMIT} s"]
    if faulted["cpu"] > CPU_LIMIT:
        wrong.append(f"spun: {faulted['cpu']:.1f} s of processor time")
    if faulted["rss"] > clean["rss"] + MEMORY_MARGIN:
        wrong.append(f"peak memory {faulted['rss']} KiB, against {clean['rss']} KiB for the clean run")
    if after != before:
        wrong.append("the input changed")
    messages = [line for line in faulted["err"].splitlines() if line.startswith("tavrin-cli: ")]
    held = faulted["status"] == clean["status"] and output == clean["output"] and len(messages) == 0
    if held:
        return wrong
    if faulted["status"] not in (1, 2):
        wrong.append(f"status {faulted['status']} for a fault that was not held")
    if len(messages) != 1:
        wrong.append(f"{len(messages)} messages: {faulted['err'][:300]!r}")
    elif not re.search(r'"\u2068(in|out|-)\u2069"|^tavrin-cli: \u2068(in|-)\u2069:\d+: |terminal', messages[0]):
        wrong.append(f"a message that names no file: {messages[0][:200]!r}")
    full = clean["output"]
    cut_said = "then a cut line that could not be removed" in faulted["err"]
    if output is None or (output == OLD_OUTPUT and not piped):
        pass
    elif not full.startswith(output):
        wrong.append(f"an output that is no start of the clean one ({len(output)} bytes)")
    elif output and not output.endswith(line_end(utf16)) and output != full and not (piped and cut_said):
        wrong.append(f"an output that ends inside a line ({len(output)} bytes)")
    holds = re.search(r'holds (\d+) records?', faulted["err"])
    if holds and output is not None and int(holds.group(1)) != records_in(output, utf16) and not cut_said:
        wrong.append(f"says it holds {holds.group(1)} records; it holds {records_in(output, utf16)}")
    incomplete = output not in (None, OLD_OUTPUT, b"") and output != full
    if incomplete and not holds and policy != "stop" and faulted["status"] == 2:
        wrong.append("an output given up without a word of what it holds")
    return wrong


def main():
    env_base = {key: value for key, value in os.environ.items() if key not in ("LD_PRELOAD", "TAVRIN_FAULT")}
    variants = list(itertools.product([False, True], [False, True], [False, True], ["ask", "continue", "stop"]))
    runs = held = failed_runs = 0
    problems = []
    with tempfile.TemporaryDirectory(prefix="tavrin-faults-") as folder:
        for variant in variants:
            unbuild, utf16, piped, policy = variant
            content = sample(utf16)
            input_path = os.path.join(folder, "in")
            output_path = os.path.join(folder, "out")
            count_path = os.path.join(folder, "count")
            # A pipe in, a pipe out; or a file in and a file out, which replaces one from before.
            args = (["-u"] if unbuild else []) + ["-q", "--on-line-error=" + policy] + (["-", "-"] if piped else ["in", "out"])
            name = " ".join(args[:-2]) + (" through pipes" if piped else " on files") + (" in UTF-16" if utf16 else "")

            def one_run(fault):
                with open(input_path, "wb") as f:
                    f.write(content)
                with open(output_path, "wb") as f:
                    f.write(OLD_OUTPUT)
                env = dict(env_base, TAVRIN_FAULT_SHIM=SHIM, TAVRIN_FAULT_COUNT=count_path)
                if fault:
                    env["TAVRIN_FAULT"] = fault
                result = run(args, folder, content if piped else None, policy == "ask", env)
                with open(input_path, "rb") as f:
                    result["input"] = f.read()
                if piped:
                    result["output"] = result["stdout"]
                else:
                    result["output"] = open(output_path, "rb").read() if os.path.exists(output_path) else None
                return result

            clean = one_run(None)
            if clean["status"] != 0 or clean["output"] in (None, OLD_OUTPUT, b""):
                problems.append(f"{name}: the clean run failed: {clean['err'][:300]!r}")
                continue
            with open(count_path) as f:
                counts = {call: int(n) for call, n in (line.split() for line in f)}
            for call, kinds in FAULTS.items():
                for index, kind in itertools.product(range(1, counts.get(call, 0) + 1), kinds):
                    if kind == errno.EPIPE and not piped:
                        continue  # only a pipe breaks
                    fault = f"{call}:{index}:1:{kind}"
                    faulted = one_run(fault)
                    runs += 1
                    wrong = check(variant, clean, faulted, content, faulted["input"], faulted["output"])
                    if faulted["status"] == 0 and not wrong:
                        held += 1
                    failed_runs += bool(wrong)
                    problems += [f"{name}, {fault}: {what}" for what in wrong]
    for problem in problems[:int(os.environ.get("TAVRIN_FAULTS_SHOWN", "30"))]:
        print("fault campaign:", problem)
    print(f"fault campaign: {runs} calls failed in turn in {len(variants)} kinds of run; {held} held, "
          f"{runs - held - failed_runs} ended a line or the run as they should")
    print(f"fault campaign: {runs - failed_runs} passed, {failed_runs} failed")
    return 1 if problems or runs == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
