# Overlapping and interrupted runs of a packed setup on one user's cache: a
# large agent whose launcher checks its own files for its whole run, several
# runs at once, an update under a running agent, nested runs, and SIGTERM,
# SIGHUP and SIGKILL at random points of the download and the unpack.
import hashlib
import os
import random
import signal
import subprocess
import time
import unittest

import setup_harness as h
from setup_harness import Reply
from agent_server import per_method

# A stored archive of this size takes a noticeable while to unpack, so kills
# land inside the unpack as well as inside the download.
DATA_FILES = 4
DATA_FILE_BYTES = 5 * 1024 * 1024
KILL_ROUNDS = int(os.environ.get("SETUP_KILL_ROUNDS", "6"))

# Checks every file against the manifest when it starts and again when it
# ends, then that its directory still holds the same agent (after waiting
# for $AGENT_HOLD to appear, when set), runs
# $NESTED_SETUP once in between, and records one line per run:
# "<tag> <first check> <last check> <nested status> <launcher>".
LAUNCHER = b"""\
d=$(dirname "$0")
check() {
    if (cd "$d" && sha256sum --quiet --strict -c manifest) >/dev/null 2>&1; then
        echo ok
    else
        echo BROKEN
    fi
}
first=$(check)
tag=$(cat "$d/tag" 2>/dev/null)
if [ -n "$AGENT_HOLD" ]; then
    : > "$AGENT_HOLD.started"
    while [ ! -e "$AGENT_HOLD" ]; do sleep 0.05; done
fi
nested=none
if [ -n "$NESTED_SETUP" ]; then
    inner=$NESTED_SETUP
    unset NESTED_SETUP AGENT_HOLD
    "$inner"
    nested=$?
fi
last=$(check)
if [ "$(cat "$d/tag" 2>/dev/null)" != "$tag" ]; then
    last=REPLACED
fi
rec=$(mktemp "$AGENT_RECORD_DIR/run.XXXXXX")
printf '%s %s %s %s %s\\n' "$tag" "$first" "$last" "$nested" "$0" > "$rec"
"""

_DATA = None


def data_files():
    global _DATA
    if _DATA is None:
        rng = random.Random(8)
        _DATA = {"data/part%d.bin" % i: rng.randbytes(DATA_FILE_BYTES)
                 for i in range(DATA_FILES)}
    return _DATA


def large_agent(tag: str) -> bytes:
    files = {"install": LAUNCHER, "tag": tag.encode()}
    files.update(data_files())
    manifest = "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name)
                       for name, data in sorted(files.items()))
    files["manifest"] = manifest.encode()
    return h.zip_bytes(files, stored=True)


def agent_reply(tag: str, chunk_delay: float = 0.0) -> Reply:
    return Reply(status=200, headers=(("ETag", '"%s"' % tag),), body=large_agent(tag),
                 chunk_delay=chunk_delay)


class Record:
    def __init__(self, line: str):
        self.tag, self.first, self.last, self.nested, self.launcher = line.split(" ", 4)

    @property
    def complete(self) -> bool:
        return self.first == "ok" and self.last == "ok"


class ConcurrentRuns(h.SetupCase):
    private_tmp_runs = True  # runs killed with SIGKILL leave their workspaces

    def setUp(self):
        super().setUp()
        self.server.set_responder(per_method(agent_reply("v1")))
        os.makedirs(self.record_dir)

    # --- running --------------------------------------------------------
    def start(self, record_dir=None, **extra) -> subprocess.Popen:
        env = self.env(**extra)
        if record_dir:
            env["AGENT_RECORD_DIR"] = record_dir
        return subprocess.Popen(self.setup_command(), env=env, cwd=self.cwd,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, start_new_session=True)

    def finish(self, proc: subprocess.Popen, timeout: float = 120):
        out, err = proc.communicate(timeout=timeout)
        self.assertEqual(out, b"")
        return proc.returncode, err

    def records(self, record_dir=None):
        where = record_dir or self.record_dir
        found = []
        for name in sorted(os.listdir(where)):
            with open(os.path.join(where, name)) as f:
                found.append(Record(f.read().rstrip("\n")))
        return found

    def clear_records(self, record_dir=None):
        where = record_dir or self.record_dir
        for name in os.listdir(where):
            os.unlink(os.path.join(where, name))

    def wait_for(self, path: str, timeout: float = 60):
        deadline = time.monotonic() + timeout
        while not os.path.exists(path):
            self.assertLess(time.monotonic(), deadline, "waited in vain for " + path)
            time.sleep(0.02)

    # --- the cache --------------------------------------------------------
    def assert_cache_consistent(self, tag=None):
        """A cached agent is complete; a recorded validator is its own."""
        agent = os.path.join(self.cache_dir(), "installagent")
        if os.path.isdir(agent):
            check = subprocess.run(["sha256sum", "--quiet", "--strict", "-c", "manifest"],
                                   cwd=agent, capture_output=True)
            self.assertEqual(check.returncode, 0,
                             "incomplete agent in the cache: " + check.stdout.decode())
        validator = self.validator()
        if validator is not None:
            self.assertTrue(os.path.isdir(agent), "a validator without an agent")
            with open(os.path.join(agent, "tag")) as f:
                cached_tag = f.read()
            self.assertEqual(validator, h.stored_validator('"%s"' % cached_tag),
                             "the validator is not the cached agent's")
        if tag is not None:
            self.assertEqual(validator, h.stored_validator('"%s"' % tag))

    # --- the cases ----------------------------------------------------------
    def test_simultaneous_first_runs_each_start_a_complete_agent(self):
        runs = [self.start() for _ in range(4)]
        for proc in runs:
            status, err = self.finish(proc)
            self.assertEqual((status, err), (0, b""))
        records = self.records()
        self.assertEqual(len(records), 4)
        for record in records:
            self.assertTrue(record.complete, "an agent ran incomplete")
            self.assertEqual(record.tag, "v1")
        # One run downloads; the others wait for it and find the cache current.
        self.assertEqual(sorted(self.server.methods()), ["GET"] + ["HEAD"] * 4)
        self.assert_cache_consistent(tag="v1")

    def test_update_under_a_running_agent_uses_a_private_copy(self):
        self.assertEqual(self.run_setup().status, 0)
        self.clear_records()
        hold = os.path.join(self.tmp, "go")
        first = self.start(AGENT_HOLD=hold)
        self.wait_for(hold + ".started")

        self.server.set_responder(per_method(agent_reply("v2")))
        second = self.run_setup()
        self.assertEqual((second.status, second.stderr), (0, b""))
        [record] = self.records()
        self.assertEqual(record.tag, "v2")
        self.assertTrue(record.complete)
        self.assertTrue(record.launcher.startswith("/tmp/zq"), record.launcher)
        self.assertFalse(os.path.exists(record.launcher), "the private copy was left behind")
        # The running agent's cache is untouched and still its own.
        self.assert_cache_consistent(tag="v1")

        self.clear_records()
        open(hold, "w").close()
        self.assertEqual(self.finish(first), (0, b""))
        [record] = self.records()
        self.assertEqual(record.tag, "v1")
        self.assertTrue(record.complete, "the running agent was changed underneath")

        # Once it has returned, the next run brings the cache up to date.
        self.clear_records()
        self.server.clear()
        self.assertEqual(self.run_setup().status, 0)
        [record] = self.records()
        self.assertEqual((record.tag, record.launcher), ("v2", self.cached_launcher()))
        self.assertEqual(self.server.methods(), ["HEAD", "GET"])
        self.assert_cache_consistent(tag="v2")

    def test_agent_outliving_its_killed_installer_keeps_the_cache(self):
        # The agent holds the cache in use itself, not only the installer
        # that started it: an update meanwhile must take a private copy.
        self.assertEqual(self.run_setup().status, 0)
        self.clear_records()
        hold = os.path.join(self.tmp, "go")
        orphaned = self.start(AGENT_HOLD=hold)
        self.wait_for(hold + ".started")
        os.kill(orphaned.pid, signal.SIGKILL)
        # Not communicate: the agent still holds the pipes open.
        orphaned.wait(timeout=60)

        self.server.set_responder(per_method(agent_reply("v2")))
        second = self.run_setup()
        self.assertEqual((second.status, second.stderr), (0, b""))
        [record] = self.records()
        self.assertEqual(record.tag, "v2")
        self.assertTrue(record.launcher.startswith("/tmp/zq"), record.launcher)
        self.assert_cache_consistent(tag="v1")

        self.clear_records()
        open(hold, "w").close()
        self.wait_for_group_to_end(orphaned.pid)
        orphaned.communicate(timeout=60)
        [record] = self.records()
        self.assertEqual(record.tag, "v1")
        self.assertTrue(record.complete, "the orphaned agent was changed underneath")

    def test_nested_run_with_a_current_cache(self):
        self.assertEqual(self.run_setup().status, 0)
        self.clear_records()
        outer = self.start(NESTED_SETUP=self.setup_path)
        self.assertEqual(self.finish(outer, timeout=60), (0, b""))
        records = self.records()
        self.assertEqual(len(records), 2)
        self.assertEqual(sorted(r.nested for r in records), ["0", "none"])
        for record in records:
            self.assertEqual((record.tag, record.launcher), ("v1", self.cached_launcher()))
            self.assertTrue(record.complete)
        self.assert_cache_consistent(tag="v1")

    def test_nested_run_that_finds_a_newer_agent(self):
        self.assertEqual(self.run_setup().status, 0)
        self.clear_records()
        hold = os.path.join(self.tmp, "go")
        outer = self.start(NESTED_SETUP=self.setup_path, AGENT_HOLD=hold)
        self.wait_for(hold + ".started")
        self.server.set_responder(per_method(agent_reply("v2")))
        open(hold, "w").close()
        self.assertEqual(self.finish(outer, timeout=60), (0, b""))
        outer_record, inner = sorted(self.records(), key=lambda r: r.nested)
        self.assertEqual((outer_record.tag, outer_record.nested), ("v1", "0"))
        self.assertEqual(inner.tag, "v2")
        self.assertTrue(inner.launcher.startswith("/tmp/zq"), inner.launcher)
        self.assertTrue(inner.complete and outer_record.complete)
        self.assert_cache_consistent(tag="v1")

    def test_killed_runs_never_leave_an_agent_that_a_later_run_starts_broken(self):
        # How long one undisturbed run with a slowed download takes, so that
        # the kills spread over the download and the unpack.
        self.server.set_responder(per_method(agent_reply("v0", chunk_delay=0.0004)))
        start = time.monotonic()
        self.assertEqual(self.run_setup().status, 0)
        span = time.monotonic() - start
        rng = random.Random(int(os.environ.get("SETUP_KILL_SEED", "0")) or None)
        follow_records = os.path.join(self.tmp, "follow-records")
        os.makedirs(follow_records)
        version = 0
        for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGKILL):
            for round_ in range(KILL_ROUNDS):
                version += 1
                tag = "v%d" % version
                self.server.set_responder(per_method(agent_reply(tag, chunk_delay=0.0004)))
                victim = self.start()
                delay = rng.uniform(0.02, span)
                time.sleep(delay)
                whole_group = round_ % 2 == 0
                try:
                    if whole_group:
                        os.killpg(victim.pid, sig)
                    else:
                        os.kill(victim.pid, sig)
                except ProcessLookupError:
                    pass
                victim.communicate(timeout=60)
                context = "%s to the %s after %.2f s" % (
                    signal.Signals(sig).name, "group" if whole_group else "process", delay)

                after = self.start(record_dir=follow_records)
                status, err = self.finish(after)
                self.assertEqual((status, err), (0, b""), context)
                [record] = self.records(follow_records)
                self.assertEqual(record.tag, tag, context)
                self.assertTrue(record.complete, "a later run started a broken agent: " + context)
                self.clear_records(follow_records)
                self.wait_for_group_to_end(victim.pid)
                self.assert_cache_consistent(tag=tag)

    def wait_for_group_to_end(self, pgid: int, timeout: float = 30):
        """Children of a killed run (unzip, the agent) may outlive it a while."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                os.killpg(pgid, 0)
            except ProcessLookupError:
                return
            time.sleep(0.05)
        self.fail("processes of a killed run did not end")


if __name__ == "__main__":
    unittest.main()
