# The installer against hostile input, run on the real packed binary: strange
# bytes in paths, HOME and arguments; read-only, unreadable, truncated and
# tampered files; and download servers that misbehave on purpose.
"""Hostile-input suite for the packed `setup`.

Environment (set by CTest): SETUP_STUB_FAST (the installer stub built with
short network time-outs), PACK_SETUP (scripts/pack-setup). Optional:
SUITE_FIGURES (a file to append this suite's figure line to) and SUITE_PASS
(the name of the build pass, for that line).
"""

import io
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "scripts"))

import agent_server as hs  # noqa: E402

STUB = os.environ.get("SETUP_STUB_FAST", "")
PACK_SETUP = os.environ.get("PACK_SETUP", "")
NOBODY = 65534
CACHE_SUBPATH = b".velmar/installagent/T4410c/kestrel64"
FAILED = b"Installation failed."
PAYLOAD_FAILED = b"Internal error: Failed to initialize application installer (201)"
M4_START = b"Error: Download process failed - "
# Every byte a path or argument can hold that a shell might act on.
NASTY = b"a b\t'q' \"d\" $HOME `id` $(id) ;|&<>*?[~#\\ \n\xff\xfe\xc3("

# The agent records its arguments NUL-separated and whether the bundle it was
# given exists.
AGENT_SCRIPT = b"""\
rec="$AGENT_RECORD"
printf '%s\\0' "$@" > "$rec/args"
if [ -f "$2" ]; then printf yes > "$rec/bundle"; else printf no > "$rec/bundle"; fi
"""


def zip_of(files):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        for name, data in files.items():
            info = zipfile.ZipInfo(name)
            info.external_attr = (0o755 << 16)
            z.writestr(info, data)
    return buf.getvalue()


def unused_uids(count):
    """User ids that the password database does not know."""
    found = []
    for uid in range(40000, 60000):
        try:
            pwd.getpwuid(uid)
        except KeyError:
            found.append(uid)
            if len(found) == count:
                return found
    raise unittest.SkipTest("no unused user ids")


AGENT_ZIP = zip_of({"install": AGENT_SCRIPT})
BUNDLE_ZIP = zip_of({"app/readme.txt": b"the application\n"})


def agent_server_behaviour(etag=b'"v1"'):
    """A well-behaved server: HEAD and GET with an ETag, GET with the agent."""
    def behaviour(conn, method, path, server):
        headers = ["Content-Length: %d" % len(AGENT_ZIP)]
        if etag:
            headers.append("ETag: " + etag.decode("latin-1"))
        hs.send_raw_response(conn, "200 OK", headers, AGENT_ZIP, method=method)
    return behaviour


class HostileCase(unittest.TestCase):
    def setUp(self):
        if not STUB or not PACK_SETUP:
            self.fail("SETUP_STUB_FAST and PACK_SETUP must name the stub and the packer")
        self.root = tempfile.mkdtemp(prefix="setup-hostile-").encode()
        os.chmod(self.root, 0o755)
        self.addCleanup(self._remove_root)
        self.record = self.dir(b"record")
        self.home = self.dir(b"home")
        self.servers = []

    def _remove_root(self):
        for server in self.servers:
            server.close()
        for top, dirs, _ in os.walk(self.root):
            for d in dirs:
                path = os.path.join(top, d)
                if not os.path.islink(path):
                    os.chmod(path, 0o700)
        shutil.rmtree(self.root, ignore_errors=True)

    def dir(self, *parts, mode=0o755):
        path = os.path.join(self.root, *parts)
        os.makedirs(path, exist_ok=True)
        os.chmod(path, mode)
        return path

    def write(self, path, data, mode=0o644):
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, mode)
        return path

    def pack(self, directory, add=()):
        bundle = self.write(os.path.join(self.root, b"bundle-src.zip"), BUNDLE_ZIP)
        out = os.path.join(directory, b"setup")
        cmd = [PACK_SETUP.encode(), b"--stub", STUB.encode(), b"--bundle", bundle]
        for extra in add:
            cmd += [b"--add", extra]
        subprocess.run(cmd + [b"--output", out], check=True)
        return out

    def serve(self, behaviour):
        server = hs.AgentServer(hs.raw_responder(behaviour))
        self.servers.append(server)
        return server

    def env(self, url, home=None, extra=None):
        env = {b"PATH": b"/usr/bin:/bin", b"AGENT_RECORD": self.record,
               b"ZQ_INTERNAL_INSTALL_AGENT_URL": url.encode()}
        env[b"HOME"] = self.home if home is None else home
        env.update(extra or {})
        return env

    def run_setup(self, setup, env, args=(), as_nobody=False, timeout=120):
        kwargs = {}
        if as_nobody:
            kwargs = dict(user=NOBODY, group=NOBODY, extra_groups=[])
        start = time.monotonic()
        proc = subprocess.run([setup] + list(args), env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=timeout, **kwargs)
        proc.seconds = time.monotonic() - start
        return proc

    def agent_args(self):
        path = os.path.join(self.record, b"args")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read().split(b"\0")[:-1]

    def assert_agent_ran(self, proc, forwarded=()):
        self.assertEqual(proc.stderr, b"", "setup wrote to stderr")
        self.assertEqual(proc.returncode, 0)
        args = self.agent_args()
        self.assertIsNotNone(args, "the agent never ran")
        self.assertEqual(args[0], b"-installbundle")
        self.assertTrue(args[1].endswith(b"/bundle.zip"), args[1])
        self.assertEqual(args[2:], list(forwarded))
        with open(os.path.join(self.record, b"bundle"), "rb") as f:
            self.assertEqual(f.read(), b"yes", "the agent's bundle path did not exist")

    def assert_failed(self, proc, first_line=None):
        lines = proc.stderr.split(b"\n")
        self.assertEqual(proc.returncode, 255, proc.stderr)
        self.assertEqual(lines[-2:], [FAILED, b""], proc.stderr)
        if first_line is not None:
            self.assertEqual(lines[0], first_line, proc.stderr)
        self.assertIsNone(self.agent_args(), "the agent ran after a failure")
        return lines

    def give_to_nobody(self, *paths):
        for path in paths:
            for top, dirs, files in os.walk(path):
                os.chown(top, NOBODY, NOBODY)
                for name in files:
                    os.chown(os.path.join(top, name), NOBODY, NOBODY)
            os.chown(path, NOBODY, NOBODY)

    def require_root(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to run setup as another user")


class StrangeBytes(HostileCase):
    """Blanks, quotes, $, back quotes, newlines and non-UTF-8 bytes."""

    def test_setup_directory(self):
        setup = self.pack(self.dir(b"in " + NASTY))
        server = self.serve(agent_server_behaviour())
        self.assert_agent_ran(self.run_setup(setup, self.env(server.url())))

    def test_setup_directory_as_work_directory(self):
        # Unit-test mode unpacks beside setup, so the strange name is the
        # work directory itself.
        where = self.dir(b"wd " + NASTY)
        setup = self.pack(where)
        server = self.serve(agent_server_behaviour())
        env = self.env(server.url(), extra={b"__ZQ_BOOTSTRAP_INSTALLER_UNITTEST__": b""})
        proc = self.run_setup(setup, env)
        self.assert_agent_ran(proc)
        workspace = os.path.dirname(self.agent_args()[1])
        self.assertEqual(os.path.dirname(workspace), where)
        self.assertEqual(os.listdir(where), [b"setup"], "the workspace was left behind")

    def test_home(self):
        home = self.dir(b"home " + NASTY)
        setup = self.pack(self.dir(b"plain"))
        server = self.serve(agent_server_behaviour())
        env = self.env(server.url(), home=home)
        self.assert_agent_ran(self.run_setup(setup, env))
        base = os.path.join(home, CACHE_SUBPATH)
        with open(os.path.join(base, b".validatestring"), "rb") as f:
            self.assertEqual(f.read(), b'ETag: "v1"\r')
        self.assertTrue(os.path.isfile(os.path.join(base, b"installagent", b"install")))
        # The second run finds the cache through the same strange path.
        os.remove(os.path.join(self.record, b"args"))
        self.assert_agent_ran(self.run_setup(setup, env))
        self.assertEqual(server.methods(), ["HEAD", "GET", "HEAD"])

    def test_forwarded_arguments(self):
        setup = self.pack(self.dir(b"plain"))
        server = self.serve(agent_server_behaviour())
        args = [b"", NASTY, b"-installbundle", b"/etc/passwd", b"*", b"--", b"\n", b"'", b'"',
                b"\\", b"$", b"`", b" ", b"\xff"]
        proc = self.run_setup(setup, self.env(server.url()), args=args)
        self.assert_agent_ran(proc, forwarded=args)


class HostileFiles(HostileCase):
    """Read-only, unreadable, truncated and tampered files and directories."""

    def test_read_only_work_directory(self):
        self.require_root()
        where = self.dir(b"readonly")
        setup = self.pack(where)
        server = self.serve(agent_server_behaviour())
        self.give_to_nobody(where, self.home, self.record)
        os.chmod(where, 0o555)
        env = self.env(server.url(), extra={b"__ZQ_BOOTSTRAP_INSTALLER_UNITTEST__": b"1"})
        proc = self.run_setup(setup, env, as_nobody=True)
        self.assert_failed(proc, b"No private directory could be made in the installer's own "
                           b"directory " + where + b" (Permission denied).")
        self.assertEqual(server.requests(), [])

    def test_read_only_work_directory_holding_the_bundle(self):
        # A bundle lying there already is not the payload's: the run still
        # needs a directory of its own.
        self.require_root()
        where = self.dir(b"readonly")
        setup = self.pack(where)
        self.write(os.path.join(where, b"bundle.zip"), BUNDLE_ZIP)
        server = self.serve(agent_server_behaviour())
        self.give_to_nobody(where, self.home, self.record)
        os.chmod(where, 0o555)
        env = self.env(server.url(), extra={b"__ZQ_BOOTSTRAP_INSTALLER_UNITTEST__": b"1"})
        proc = self.run_setup(setup, env, as_nobody=True)
        self.assert_failed(proc, b"No private directory could be made in the installer's own "
                           b"directory " + where + b" (Permission denied).")
        self.assertEqual(server.requests(), [])

    def test_home_unset_for_two_users(self):
        # Users without HOME and without a password entry each get a home of
        # their own under /tmp, so neither shuts the other out of its cache.
        # A private mount namespace gives these runs a /tmp of their own.
        self.require_root()
        if shutil.which("unshare") is None or shutil.which("setpriv") is None:
            self.skipTest("needs unshare and setpriv")
        probe = subprocess.run(["unshare", "-m", "true"], capture_output=True)
        if probe.returncode != 0:
            self.skipTest("mount namespaces are not available here")
        fake_tmp = self.dir(b"fake-tmp", mode=0o1777)
        self.pack(fake_tmp)  # run below as /tmp/setup, inside the namespace
        server = self.serve(agent_server_behaviour())
        self.record = self.dir(b"fake-tmp", b"record", mode=0o777)
        env = self.env(server.url(), extra={b"AGENT_RECORD": b"/tmp/record"})
        del env[b"HOME"]
        for uid in unused_uids(2):
            with self.subTest(uid=uid):
                for name in os.listdir(self.record):  # the other user's
                    os.remove(os.path.join(self.record, name))
                proc = self.run_setup(b"unshare", env, args=[
                    b"-m", b"sh", b"-c", b'mount --bind "$1" /tmp && exec setpriv --reuid "$2" '
                    b'--regid "$2" --clear-groups /tmp/setup', b"sh", fake_tmp, b"%d" % uid])
                self.assert_agent_ran(proc)
                home = os.path.join(fake_tmp, b".velmar-%d" % uid)
                self.assertEqual(os.stat(home).st_uid, uid)
                self.assertEqual(os.stat(home).st_mode & 0o077, 0)
                base = os.path.join(home, CACHE_SUBPATH)
                self.assertTrue(os.path.isfile(os.path.join(base, b"installagent", b"install")))
        self.assertFalse(os.path.exists(os.path.join(fake_tmp, b".velmar")))
        leftovers = [n for n in os.listdir(fake_tmp) if n.startswith(b"zq")]
        self.assertEqual(leftovers, [], "the workspace was left behind")

    def test_unreadable_setup_file(self):
        self.require_root()
        where = self.dir(b"unreadable")
        setup = self.pack(where)
        server = self.serve(agent_server_behaviour())
        self.give_to_nobody(self.home, self.record)
        os.chmod(setup, 0o711)
        proc = self.run_setup(setup, self.env(server.url()), as_nobody=True)
        self.assert_failed(proc, PAYLOAD_FAILED)
        self.assertEqual(server.requests(), [])

    def test_truncated_setup_files(self):
        where = self.dir(b"cut")
        setup = self.pack(where)
        with open(setup, "rb") as f:
            whole = f.read()
        stub_size = os.path.getsize(STUB)
        server = self.serve(agent_server_behaviour())
        for keep in (stub_size, stub_size + 40, (stub_size + len(whole)) // 2, len(whole) - 10,
                     len(whole) - 1):
            with self.subTest(keep=keep):
                self.write(setup, whole[:keep], mode=0o755)
                proc = self.run_setup(setup, self.env(server.url()))
                self.assert_failed(proc, PAYLOAD_FAILED)
        self.assertEqual(server.requests(), [])

    def test_cache_path_that_is_a_file(self):
        setup = self.pack(self.dir(b"plain"))
        server = self.serve(agent_server_behaviour())
        blocker = os.path.join(self.home, b".velmar")
        self.write(blocker, b"precious user data\n")
        proc = self.run_setup(setup, self.env(server.url()))
        lines = self.assert_failed(proc)
        self.assertEqual(len(lines), 3, proc.stderr)
        self.assertIn(blocker, lines[0])
        with open(blocker, "rb") as f:
            self.assertEqual(f.read(), b"precious user data\n")

    def test_agent_directory_that_is_a_file(self):
        setup = self.pack(self.dir(b"plain"))
        server = self.serve(agent_server_behaviour())
        base = self.dir(b"home", *CACHE_SUBPATH.split(b"/"), mode=0o700)
        for part in (b".velmar", b".velmar/installagent", b".velmar/installagent/T4410c"):
            os.chmod(os.path.join(self.home, part), 0o700)
        blocker = self.write(os.path.join(base, b"installagent"), b"not a directory\n")
        proc = self.run_setup(setup, self.env(server.url()))
        if proc.returncode == 0:
            self.assert_agent_ran(proc)
            return
        lines = self.assert_failed(proc)
        self.assertIn(blocker, lines[0])


class UntrustedCacheLinks(HostileCase):
    """The cache directory replaced by a symbolic link."""

    def cache_link_to(self, target):
        parent = self.dir(b"home", *CACHE_SUBPATH.split(b"/")[:-1], mode=0o700)
        for part in (b".velmar", b".velmar/installagent"):
            os.chmod(os.path.join(self.home, part), 0o700)
        os.symlink(target, os.path.join(parent, b"kestrel64"))

    def plant_agent(self, target):
        # A launcher waiting in the foreign directory, with a validator that
        # matches the server, so only the trust check stands between it and us.
        agent_dir = os.path.join(target, b"installagent")
        os.makedirs(agent_dir, exist_ok=True)
        self.write(os.path.join(agent_dir, b"install"),
                   b'printf planted > "$AGENT_RECORD/args"\n', mode=0o755)
        self.write(os.path.join(target, b".validatestring"), b'ETag: "v1"\r')

    def assert_refused(self, target):
        setup = self.pack(self.dir(b"plain"))
        server = self.serve(agent_server_behaviour())
        proc = self.run_setup(setup, self.env(server.url()))
        lines = self.assert_failed(proc)
        self.assertEqual(len(lines), 3, proc.stderr)
        self.assertIn(b"refusing to use it", lines[0])
        self.assertTrue(os.path.isfile(os.path.join(target, b"installagent", b"install")),
                        "the foreign cache was removed")

    def test_link_to_a_directory_another_user_owns(self):
        self.require_root()
        target = self.dir(b"foreign", mode=0o700)
        self.plant_agent(target)
        self.give_to_nobody(target)
        self.cache_link_to(target)
        self.assert_refused(target)

    def test_link_to_a_directory_others_may_write(self):
        target = self.dir(b"open", mode=0o777)
        self.plant_agent(target)
        os.chmod(target, 0o777)
        self.cache_link_to(target)
        self.assert_refused(target)

    def test_link_to_a_directory_of_ones_own(self):
        target = self.dir(b"mine", mode=0o700)
        self.cache_link_to(target)
        setup = self.pack(self.dir(b"plain"))
        server = self.serve(agent_server_behaviour())
        self.assert_agent_ran(self.run_setup(setup, self.env(server.url())))
        self.assertTrue(os.path.isfile(os.path.join(target, b"installagent", b"install")))


class HostileServers(HostileCase):
    """Servers that never end, never stop redirecting, overfill or say nothing.
    The stub under test has the short time-outs (3 s), so each case must end
    well within a minute."""

    def run_against(self, behaviour):
        setup = self.pack(self.dir(b"plain"))
        server = self.serve(behaviour)
        proc = self.run_setup(setup, self.env(server.url()), timeout=90)
        self.assertLess(proc.seconds, 60, "setup took too long to give up")
        return proc, server

    def assert_download_failed(self, proc):
        lines = self.assert_failed(proc)
        self.assertTrue(lines[0].startswith(M4_START), proc.stderr)
        return lines

    def test_endless_header(self):
        proc, _ = self.run_against(hs.endless_header)
        self.assert_download_failed(proc)

    def test_endless_header_line(self):
        proc, _ = self.run_against(hs.endless_header_line)
        self.assert_download_failed(proc)

    def test_ten_thousand_redirects(self):
        proc, server = self.run_against(hs.redirect_forever)
        self.assert_download_failed(proc)
        self.assertLessEqual(len(server.requests()), 22, "the redirect cap was not applied")

    def test_nothing_at_all(self):
        proc, _ = self.run_against(hs.say_nothing_and_close)
        self.assert_download_failed(proc)

    def test_silence(self):
        proc, _ = self.run_against(hs.say_nothing_and_wait)
        self.assert_download_failed(proc)

    def test_nobody_listening(self):
        server = self.serve(hs.say_nothing_and_close)
        url = server.url()
        server.close()
        self.servers.remove(server)
        setup = self.pack(self.dir(b"plain"))
        self.assert_download_failed(self.run_setup(setup, self.env(url)))

    def test_body_larger_than_announced(self):
        # The announced length is the archive's: the junk after it is not
        # the archive's and must not end up in it.
        proc, _ = self.run_against(hs.larger_than_announced(AGENT_ZIP, len(AGENT_ZIP)))
        self.assert_agent_ran(proc)

    def test_body_cut_by_a_short_announcement(self):
        proc, _ = self.run_against(hs.larger_than_announced(AGENT_ZIP, len(AGENT_ZIP) // 2))
        self.assert_failed(proc, b"Failed to unzip the install agent")


def main():
    start = time.monotonic()
    suite = unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    failures = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    seconds = time.monotonic() - start
    name = "hostile input, %s build" % os.environ.get("SUITE_PASS", "this")
    print("%s: %d inputs tried, %d failures, %d skipped, %.0f s"
          % (name, result.testsRun, failures, len(result.skipped), seconds))
    figures = os.environ.get("SUITE_FIGURES")
    if figures:
        with open(figures, "a") as f:
            f.write("%s\t%d\t%d\t%d\n" % (name, result.testsRun, failures, round(seconds)))
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
