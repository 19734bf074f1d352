# End-to-end tests with awkward input: arguments full of shell syntax, a
# setup file in a strange directory, and the progress line on a terminal.
import os
import pty
import re
import select
import subprocess
import tempfile
import time
import unittest

import setup_harness as h
from setup_harness import Reply
from agent_server import per_method

ERASE_LINE = b"\r\x1b[K"


class ForwardedArguments(h.SetupCase):
    def test_each_argument_arrives_whole_and_unchanged(self):
        args = [b"a b", b"", b"$HOME", b";rm -rf x", b"`touch bq`", b"$(touch dollar)",
                b"line one\nline two", b"\xff\xfe\x80 not utf-8", b"*", b"'single'",
                b'"double"', b"back\\slash", b"tab\there", b"-installbundle", b"&&", b"|"]
        victim = self.write(os.path.join(self.cwd, "x"), b"keep me")
        self.assert_agent_ran(self.run_setup(args), args=args)
        self.assertTrue(os.path.exists(victim), "an argument was run as a command")
        self.assertEqual(sorted(os.listdir(self.cwd)), ["x"],
                         "an argument was run as a command")

    def test_no_arguments(self):
        self.assert_agent_ran(self.run_setup([]), args=[])


class StrangePlaces(h.SetupCase):
    def test_setup_in_a_directory_with_blank_and_dollar(self):
        odd_dir = self.make_dir("dl dir $HOME $x `y`")
        setup = self.pack(odd_dir)
        self.assert_agent_ran(self.run_setup(setup=setup), tag="v1")


def read_pty(master: int, proc: subprocess.Popen, deadline: float) -> bytes:
    """Everything written to the terminal until its last writer closes it."""
    chunks = []
    while time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.2)
        if not ready:
            if proc.poll() is not None:
                break
            continue
        try:
            data = os.read(master, 4096)
        except OSError:  # EIO: every writer has closed the terminal
            break
        if not data:
            break
        chunks.append(data)
    return b"".join(chunks)


class Progress(h.SetupCase):
    def slow_big_download(self):
        big = Reply(status=200, headers=(("ETag", '"big"'),),
                    body=h.agent_archive("big", padding=256 * 1024), chunk_delay=0.04)
        self.server.set_responder(per_method(big))

    def run_on_terminal(self):
        master, slave = pty.openpty()
        self.addCleanup(os.close, master)
        with tempfile.TemporaryFile() as out:
            proc = subprocess.Popen(self.setup_command(), env=self.env(), cwd=self.cwd,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=slave)
            os.close(slave)
            shown = read_pty(master, proc, time.monotonic() + 60)
            status = proc.wait(timeout=60)
            out.seek(0)
            self.assertEqual(out.read(), b"", "setup wrote to standard output")
        return status, shown

    def test_progress_line_on_a_terminal_is_erased_at_the_end(self):
        self.slow_big_download()
        status, shown = self.run_on_terminal()
        self.assertEqual(status, 0)
        self.assertTrue(shown.endswith(ERASE_LINE), repr(shown[-80:]))
        drawn = shown[:-len(ERASE_LINE)]
        self.assertRegex(drawn, re.compile(rb"\r[^\r\n]*[0-9]"), "no progress text drawn")
        self.assertNotIn(b"\n", shown, "progress must stay on one line")
        runs = self.new_runs()
        self.assertEqual(len(runs), 1)
        self.assertEqual(runs[0].tag, "big")

        # Nothing to download: nothing drawn.
        status, shown = self.run_on_terminal()
        self.assertEqual((status, shown), (0, b""))
        self.assertEqual(self.server.methods(), ["HEAD", "GET", "HEAD"])

    def test_progress_line_is_erased_before_an_error(self):
        body = h.agent_archive("big", padding=256 * 1024)
        self.server.set_responder(per_method(
            Reply(status=200, headers=(("ETag", '"b"'),), body=body,
                  body_cut_at=len(body) * 3 // 4, chunk_delay=0.04)))
        status, shown = self.run_on_terminal()
        self.assertEqual(status, 255)
        drawn, erase, message = shown.rpartition(ERASE_LINE)
        self.assertEqual(erase, ERASE_LINE, repr(shown[-200:]))
        self.assertRegex(drawn, re.compile(rb"\r[^\r\n]*[0-9]"))
        # A terminal shows "\n" as "\r\n".
        expected = h.m4_lines("Transferred a partial file") + [h.FAILED]
        self.assertEqual(message, ("\r\n".join(expected) + "\r\n").encode())

    def test_no_progress_when_stderr_is_not_a_terminal(self):
        self.slow_big_download()
        self.assert_agent_ran(self.run_setup(), tag="big")


if __name__ == "__main__":
    unittest.main()
