"""Waiting for conditions, and driving kvshake_testhost.exe through its standard input: what the
demo and the package test share."""

import os
import queue
import re
import subprocess
import threading
import time
import types

RUNS_32BIT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "runs_32bit.sh")


def wait_for(condition, seconds, what):
    """Polls condition until it gives something true, and returns that; TimeoutError after the
    bound, naming what did not happen."""
    deadline = time.monotonic() + seconds
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise TimeoutError("%s within %d s" % (what, seconds))
        time.sleep(0.05)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def runs_32bit():
    """Whether 32-bit programs run here: the answer ./run hands on, or the same question asked."""
    return subprocess.run([RUNS_32BIT], capture_output=True, text=True).stdout.strip() == "yes"


class TestHost:
    """One kvshake_testhost.exe reading lines of commands from its standard input: a browser
    process whose tabs load the registered module. Raises ChildProcessError once it ended or
    said "error"."""

    def __init__(self, name, loader, build, env, transcript):
        self.name, self.lines, self.printed, self.ended = name, queue.Queue(), [], False
        self.transcript = open(transcript, "w", encoding="utf-8")
        self.process = subprocess.Popen(
            [loader, os.path.join(build, "kvshake_testhost.exe"), "input"], cwd=build, env=env,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        for raw in self.process.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\n")
            self.transcript.write("%.3f %s\n" % (time.monotonic(), line))
            self.transcript.flush()
            self.lines.put((time.monotonic(), line))
        self.lines.put((time.monotonic(), None))

    def take(self, pattern):
        """The first line printed and not yet taken that matches, or None: its match's group,
        and at, the time it arrived."""
        while not self.lines.empty():
            at, line = self.lines.get()
            if line is None:
                self.ended = True
            elif line.startswith("error "):
                raise ChildProcessError("browser %s: %s" % (self.name, line))
            else:
                self.printed.append((at, line))
        for index, (at, line) in enumerate(self.printed):
            match = re.search(pattern, line)
            if match:
                del self.printed[index]
                return types.SimpleNamespace(at=at, group=match.group)
        if self.ended:
            raise ChildProcessError("browser %s ended, exit code %s, before it printed '%s'"
                                    % (self.name, self.process.wait(), pattern))
        return None

    def expect(self, pattern, seconds=30):
        return wait_for(lambda: self.take(pattern), seconds,
                        "browser %s printed no '%s'" % (self.name, pattern))

    def command(self, line, reply=None, seconds=30):
        """Runs a line of commands; what it printed that matches reply, once it is done."""
        self.process.stdin.write((line + "\n").encode("utf-8"))
        self.process.stdin.flush()
        answer = reply and self.expect(reply, seconds)
        done = self.expect("^done$", seconds)
        return answer or done

    def exit(self):
        """Ends the input, and with it the process."""
        if self.process.poll() is None:
            try:
                self.process.stdin.close()
                self.process.wait(20)
            except (OSError, subprocess.TimeoutExpired):
                self.process.kill()
                self.process.wait(5)
