# End-to-end tests of how a packed setup fails: server answers, broken
# transfers, stalls, redirect loops, a damaged setup file, an unsafe cache.
import os
import resource
import shutil
import signal
import socket
import subprocess
import time
import unittest

import setup_harness as h
from setup_harness import Reply, agent_reply, signature_reply, stored_record, stored_validator
from agent_server import per_method, redirect_chain

HEAD = "HEAD"
GET = "GET"
HEADER = (HEAD, h.agent_server.AGENT_PATH)
SIGNATURE = (GET, h.SIGNATURE_PATH)
ARCHIVE = (GET, h.agent_server.AGENT_PATH)


class ServerAnswers(h.SetupCase):
    def test_404_on_the_header_request(self):
        self.server.set_responder(per_method(Reply(status=404, body=b"gone")))
        self.assert_failed(self.run_setup(), [h.M5])
        self.assertEqual(self.server.methods(), [HEAD])

    def test_404_while_a_current_agent_is_cached_leaves_the_cache(self):
        self.assert_agent_ran(self.run_setup())
        self.server.set_responder(per_method(Reply(status=404)))
        self.assert_failed(self.run_setup(), [h.M5])
        self.assert_cache(stored_validator('"v1"'), launcher=True)

    def test_503(self):
        self.server.set_responder(per_method(Reply(status=503)))
        self.assert_failed(self.run_setup(), [h.m6_line(503)])
        self.assertEqual(h.m6_line(503),
                         "Error: Download process failed. Received an HTTP code: 503. "
                         "Check your internet connectivity, proxy server, firewall, and "
                         "virus scanner settings and rerun the installer.")

    def test_400_to_the_header_request(self):
        self.server.set_responder(per_method(Reply(status=400, body=b"bad request")))
        self.assert_failed(self.run_setup(), [h.m6_line(400)])
        self.assertEqual(self.server.methods(), [HEAD])

    def test_405_for_head_tries_no_get(self):
        self.server.set_responder(per_method(agent_reply("v1"), head=Reply(status=405)))
        self.assert_failed(self.run_setup(), [h.m6_line(405)])
        self.assertEqual(self.server.methods(), [HEAD])

    def test_body_cut_off_mid_transfer(self):
        self.assert_agent_ran(self.run_setup(), tag="v1")
        body = h.agent_archive("v2")
        cut = Reply(status=200, headers=(("ETag", '"v2"'),), body=body,
                    body_cut_at=len(body) // 2)
        self.server.set_responder(per_method(cut, head=agent_reply("v2", '"v2"')))
        self.server.clear()
        self.assert_failed(self.run_setup(), h.m4_lines("Transferred a partial file"))
        self.assertEqual(self.server.methods(), [HEAD, GET])
        # The old agent leaves only for a complete new one.
        self.assert_cache(stored_validator('"v1"'), launcher=True)

        # The next good answer installs.
        self.server.set_responder(per_method(agent_reply("v2", '"v2"')))
        self.assert_agent_ran(self.run_setup(), tag="v2")

    def test_error_page_of_the_full_request_keeps_the_old_agent(self):
        self.assert_agent_ran(self.run_setup(), tag="v1")
        for code, lines in ((500, [h.m6_line(500)]), (404, [h.M5]), (400, [h.m6_line(400)])):
            page = Reply(status=code, headers=(("ETag", '"v2"'),),
                         body=b"<html>error page</html>\n")
            self.server.set_responder(per_method(page, head=agent_reply("v2", '"v2"')))
            self.server.clear()
            self.assert_failed(self.run_setup(), lines)
            self.assertEqual(self.server.methods(), [HEAD, GET])
            self.assert_cache(stored_validator('"v1"'), launcher=True)
        self.server.set_responder(per_method(agent_reply("v1")))
        self.assert_agent_ran(self.run_setup(), tag="v1")

    def test_redirect_to_ftp_is_refused(self):
        self.server.set_responder(per_method(
            Reply(status=302, headers=(("Location", "ftp://127.0.0.1:1/agent"),))))
        self.assert_failed(self.run_setup(), h.m4_lines("Unsupported protocol"))

    def test_body_that_is_not_a_zip(self):
        page = Reply(status=200, headers=(("ETag", '"page"'),),
                     body=b"<html>maintenance</html>\n")
        self.server.set_responder(per_method(page))
        self.assert_failed(self.run_setup(), [h.UNZIP_FAILED, h.INIT_FAILED])
        self.assertFalse(os.path.exists(self.cached_launcher()))

    def test_endless_redirects_hit_the_cap(self):
        self.server.set_responder(redirect_chain(agent_reply("never"), hops=-1))
        outcome = self.run_setup(timeout=30)
        self.assert_failed(outcome, h.m4_lines("Number of redirects hit maximum amount"))
        methods = self.server.methods()
        self.assertEqual(set(methods), {HEAD})
        self.assertLessEqual(len(methods), 21, "more than 20 redirects followed")

    def test_empty_url_override(self):
        outcome = self.run_setup(env=self.env(url=""))
        self.assert_failed(outcome, h.m4_lines("URL using bad/illegal format or missing URL"))
        self.assertEqual(self.server.requests(), [])

    def test_unreachable_server_does_not_use_the_cache(self):
        self.assert_agent_ran(self.run_setup())
        # A bound socket that never listens: connections are refused, and
        # no other test can take the port meanwhile.
        closed = socket.socket()
        self.addCleanup(closed.close)
        closed.bind(("127.0.0.1", 0))
        url = "http://127.0.0.1:%d/x" % closed.getsockname()[1]
        outcome = self.run_setup(env=self.env(url=url))
        self.assert_failed(outcome, h.m4_lines("Couldn't connect to server"))
        self.assert_cache(stored_validator('"v1"'), launcher=True)


class Stalls(h.SetupCase):
    stub = h.FAST_STUB

    def test_server_that_accepts_and_says_nothing(self):
        self.server.set_responder(per_method(Reply(stall="before-headers")))
        outcome = self.run_setup(timeout=40)
        self.assert_failed(outcome, h.m4_lines("Timeout was reached"))
        self.assertLess(outcome.elapsed, 15)

    def test_body_that_never_comes(self):
        stalled = Reply(status=200, headers=(("ETag", '"s"'),),
                        body=h.agent_archive("s"), stall="after-headers")
        self.server.set_responder(per_method(stalled, head=agent_reply("s", '"s"')))
        outcome = self.run_setup(timeout=40)
        self.assert_failed(outcome, h.m4_lines("Timeout was reached"))
        self.assertLess(outcome.elapsed, 15)
        self.assertEqual(self.server.methods(), [HEAD, GET])


class AgentAndPayload(h.SetupCase):
    def test_agent_exiting_non_zero_is_still_success(self):
        outcome = self.run_setup(env=self.env(AGENT_EXIT="7"))
        self.assert_agent_ran(outcome, tag="v1")

    def test_a_launcher_that_is_a_directory_is_no_agent(self):
        archive = h.zip_bytes({"install/": b"", "tag": b"directory"})
        self.server.set_responder(per_method(
            Reply(status=200, headers=(("ETag", '"dir"'),), body=archive)))
        self.assert_failed(self.run_setup(), [h.INIT_FAILED])
        self.assert_nothing_cached()

    def test_truncated_setup_file_never_starts_the_agent(self):
        with open(self.setup_path, "rb") as f:
            data = f.read()
        stub_size = os.path.getsize(self.stub)
        cut = stub_size + (len(data) - stub_size) // 2
        self.write(self.setup_path, data[:cut])
        outcome = self.run_setup()
        self.assert_failed(outcome, [h.PAYLOAD_FAILED])
        self.assertEqual(self.server.requests(), [])


class CallersSignals(h.SetupCase):
    def test_sigchld_ignored_by_the_caller(self):
        # Inherited across exec, it would make every system() call fail.
        outcome = self.run_setup(preexec_fn=lambda: signal.signal(signal.SIGCHLD, signal.SIG_IGN))
        self.assert_agent_ran(outcome, tag="v1")


class Interruptions(h.SetupCase):
    """A signal before the agent starts takes the run's files with it, and
    setup ends by that signal. The workspace is made beside setup here, where
    this test can see what is left of it."""

    def start_slow_download(self, preexec_fn=None):
        body = h.agent_archive("slow", padding=256 * 1024)
        self.server.set_responder(per_method(
            Reply(status=200, headers=(("ETag", '"slow"'),), body=body, chunk_delay=0.1)))
        self.server.clear()
        os.chmod(os.path.dirname(self.setup_path), 0o755)
        proc = subprocess.Popen(self.setup_command(),
                                env=self.env(__ZQ_BOOTSTRAP_INSTALLER_UNITTEST__=""),
                                cwd=self.cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, preexec_fn=preexec_fn)
        deadline = time.monotonic() + 30
        while GET not in self.server.methods() and time.monotonic() < deadline:
            time.sleep(0.02)
        return proc

    def test_a_signal_during_the_download_ends_setup_by_it_and_leaves_nothing(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(sig.name):
                proc = self.start_slow_download()
                proc.send_signal(sig)
                out, err = proc.communicate(timeout=30)
                self.assertEqual((proc.returncode, out, err), (-sig, b"", b""))
                self.assertEqual(os.listdir(os.path.dirname(self.setup_path)), ["setup"])
                self.assert_nothing_cached()
                self.assertEqual(self.new_runs(), [])

    def test_sigint_ignored_by_the_caller_stays_ignored(self):
        proc = self.start_slow_download(lambda: signal.signal(signal.SIGINT, signal.SIG_IGN))
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=60)
        self.assert_agent_ran(h.Outcome(proc.returncode, err, self.new_runs(), 0), tag="slow")


@unittest.skipUnless(shutil.which("strace"), "needs strace to make system calls fail")
class FailingSystemCalls(h.SetupCase):
    """System calls made to fail as some file systems and sandboxes do."""

    def run_failing(self, fault, timeout=30):
        # LeakSanitizer, in a sanitized build, cannot work under a tracer.
        outcome = self.run_setup(wrapper=["strace", "-qq", "-o", os.devnull, "-e",
                                          "inject=" + fault],
                                 env=self.env(ASAN_OPTIONS="detect_leaks=0"), timeout=timeout)
        if outcome.status != 0 and b"strace:" in outcome.stderr:
            self.skipTest("strace cannot trace here: " + outcome.stderr.decode())
        return outcome

    def test_a_lock_that_cannot_be_taken_means_no_cache_not_a_busy_one(self):
        # ENOLCK: a network home without a lock manager. The run neither
        # waits nor uses the current cache: it runs a verified copy of its own.
        self.assert_agent_ran(self.run_setup(), tag="v1")
        self.server.set_responder(per_method(agent_reply("v2", '"v2"')))
        self.server.clear()
        run = self.assert_agent_ran(self.run_failing("flock:error=ENOLCK"), tag="v2")
        self.assertEqual(self.server.methods(), [HEAD, GET])
        self.assertNotEqual(run.launcher, self.cached_launcher())
        self.assert_cache(stored_validator('"v1"'), launcher=True)

    def test_a_refused_exchange_takes_two_renames(self):
        # EPERM: a sandbox that refuses renameat2, on an empty cache and on
        # an update.
        for tag in ("v1", "v2"):
            with self.subTest(tag):
                self.server.set_responder(per_method(agent_reply(tag, '"%s"' % tag)))
                outcome = self.run_failing("renameat2:error=EPERM")
                run = self.assert_agent_ran(outcome, tag=tag)
                self.assertEqual(run.launcher, self.cached_launcher())
                self.assert_cache(stored_validator('"%s"' % tag), launcher=True)
                self.assertEqual(sorted(os.listdir(self.cache_dir())),
                                 [".inuse", ".lock", ".validatestring", "installagent"])


class WriteLimits(h.SetupCase):
    def test_file_size_limit_is_reported_not_a_silent_kill(self):
        big = Reply(status=200, headers=(("ETag", '"big"'),),
                    body=h.agent_archive("big", padding=1 << 20))
        self.server.set_responder(per_method(big))
        limit = 256 * 1024  # room for bundle.zip, not for the agent archive

        def small_files():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        done = subprocess.run(self.setup_command(), env=self.env(), cwd=self.cwd,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60,
                              preexec_fn=small_files)
        outcome = h.Outcome(done.returncode, done.stderr, self.new_runs(), 0)
        self.assert_failed(outcome, [
            "Internal Error: Failed to create local download cache - File too large.", "",
            "Please rerun the installer."])
        self.assert_cache(None, launcher=False)


class StartingTheAgent(h.SetupCase):
    def test_arguments_too_long_for_the_shell_fail_before_the_agent(self):
        # Each argument is short, so setup itself starts; joined, they pass
        # the one-argument limit of "sh -c".
        args = ["a%048d" % i for i in range(3000)]
        outcome = self.run_setup(args)
        self.assertEqual(outcome.status, 255)
        self.assertEqual(len(outcome.lines), 2, outcome.lines)
        self.assertRegex(outcome.lines[0],
                         r"^The install agent cannot be started: its command line of \d+ bytes "
                         r"is longer than the system allows \(\d+ bytes\)\.$")
        self.assertEqual(outcome.lines[1], h.FAILED)
        self.assertEqual(outcome.runs, [])

    def test_payload_comes_from_the_running_image(self):
        # A stand-in unzip holds the payload extraction until another setup
        # has been moved onto this one's path.
        tools = self.make_dir("tools")
        gate = os.path.join(self.tmp, "gate")
        self.write(os.path.join(tools, "unzip"),
                   b'#!/bin/sh\nif [ ! -e "$GATE.used" ]; then\n    : > "$GATE.used"\n'
                   b'    while [ ! -e "$GATE" ]; do sleep 0.02; done\nfi\n'
                   b'exec /usr/bin/unzip "$@"\n')
        os.chmod(os.path.join(tools, "unzip"), 0o755)
        with open(self.bundle, "wb") as f:
            f.write(h.zip_bytes({"other/app.txt": b"another application\n"}))
        other = self.pack(self.make_dir("other"))
        env = self.env(GATE=gate)
        env["PATH"] = tools + ":" + env["PATH"]
        proc = subprocess.Popen(self.setup_command(), env=env, cwd=self.cwd,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        deadline = time.monotonic() + 30
        while not os.path.exists(gate + ".used") and time.monotonic() < deadline:
            time.sleep(0.02)
        os.rename(other, self.setup_path)
        open(gate, "w").close()
        out, err = proc.communicate(timeout=60)
        outcome = h.Outcome(proc.returncode, err, self.new_runs(), 0)
        self.assert_agent_ran(outcome, tag="v1")


@unittest.skipUnless(os.geteuid() == 0 and shutil.which("unshare"),
                     "needs root and unshare for a private, read-only /tmp")
class NoPrivateWorkspace(h.SetupCase):
    """mkdtemp fails: /tmp is read-only in a private mount namespace, where
    only this test's own directory stays writable."""

    def run_without_tmp(self, setup):
        script = ('mount --make-rprivate / && mount --bind /tmp /tmp && '
                  'mount -o remount,bind,ro /tmp && mount --bind "$1" "$1" && '
                  'mount -o remount,bind,rw "$1" && exec "$2"')
        probe = subprocess.run(["unshare", "-m", "sh", "-c", script, "sh", self.tmp, "true"],
                               capture_output=True)
        if probe.returncode != 0:
            self.skipTest("cannot make a read-only /tmp here: " + probe.stderr.decode())
        done = subprocess.run(["unshare", "-m", "sh", "-c", script, "sh", self.tmp, setup],
                              env=self.env(), cwd=self.cwd, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60)
        self.assertEqual(done.stdout, b"")
        return h.Outcome(done.returncode, done.stderr, self.new_runs(), 0)

    def test_directory_others_can_write_is_refused(self):
        where = self.make_dir("shared")
        setup = self.pack(where)
        planted = h.zip_bytes({"install": b'printf planted > "$AGENT_RECORD_DIR/planted"\n'})
        self.write(os.path.join(where, "InstallAgent_x.zip"), planted)
        os.chmod(where, 0o777)
        outcome = self.run_without_tmp(setup)
        self.assert_failed(outcome, [
            "No private directory could be made in /tmp, and the installer's own directory "
            + where + " is not owned by you or can be written by others; refusing to work in it."])
        self.assertFalse(os.path.exists(os.path.join(self.record_dir, "planted")))

    def test_private_directory_of_ones_own_is_used_and_left_as_it_was(self):
        where = self.make_dir("private")
        os.chmod(where, 0o700)
        setup = self.pack(where)
        run = self.assert_agent_ran(self.run_without_tmp(setup), tag="v1")
        self.assertEqual(os.path.dirname(run.workspace), where)
        self.assertEqual(os.listdir(where), ["setup"])

    def test_a_refused_agent_is_refused_again_by_the_next_run(self):
        # The refused archive must not stay beside setup, where the next run
        # would take it for an agent that came with the payload.
        key = self.make_key("release")
        where = self.make_dir("signed")
        os.chmod(where, 0o700)
        setup = self.pack(where, agent_key=key.public)
        self.serve_signed(agent_reply("unsigned"), signature_reply(bytes(64)))
        for _ in range(2):
            self.assert_failed(self.run_without_tmp(setup),
                               [h.not_signed(self.server.url(h.SIGNATURE_PATH))])
            self.assertEqual(os.listdir(where), ["setup"])


class UntrustedCache(h.SetupCase):
    def fill_cache(self):
        self.assert_agent_ran(self.run_setup())
        self.server.clear()

    def assert_refused(self, directory):
        outcome = self.run_setup()
        self.assertEqual(outcome.status, 255)
        self.assertEqual(len(outcome.lines), 2, outcome.lines)
        self.assertIn(directory.rstrip("/"), outcome.lines[0])
        self.assertEqual(outcome.lines[1], h.FAILED)
        self.assertEqual(outcome.runs, [], "launcher must not run")

    def test_group_or_other_writable_base_directory(self):
        self.fill_cache()
        base = self.cache_dir()
        for mode in (0o770, 0o702, 0o777):
            with self.subTest(mode=oct(mode)):
                os.chmod(base, mode)
                self.assert_refused(base)
        os.chmod(base, 0o700)
        self.assert_agent_ran(self.run_setup(), tag="v1")

    def test_writable_agent_directory(self):
        self.fill_cache()
        agent_dir = os.path.join(self.cache_dir(), "installagent")
        os.chmod(agent_dir, 0o777)
        self.assert_refused(agent_dir)

    @unittest.skipUnless(os.geteuid() == 0, "needs root to hand the directory to another user")
    def test_base_directory_owned_by_someone_else(self):
        self.fill_cache()
        base = self.cache_dir()
        os.chown(base, 65534, 65534)
        self.assert_refused(base)


class SignatureRefusals(h.SetupCase):
    """A release packed with an agent key refuses every agent its key did not
    sign, before anything is unpacked, recorded or removed."""

    def setUp(self):
        super().setUp()
        self.key = self.make_key("release")
        self.signed_setup = self.pack(self.make_dir("signed"), agent_key=self.key.public)

    def refusals(self, tag):
        """(name, archive, signature, other routes, requests, refusal) for an
        agent `tag` that the server offers in a way the release must refuse."""
        archive = agent_reply(tag, '"%s"' % tag)
        good = self.sign(h.agent_archive(tag), self.key)
        stranger = self.make_key("stranger-" + tag)
        moved = Reply(status=302, headers=(("Location", h.SIGNATURE_PATH + ".moved"),))
        at = self.server.url(h.SIGNATURE_PATH)
        return [
            ("tampered archive", archive,
             signature_reply(self.sign(h.agent_archive(tag + "-as-signed"), self.key)), {},
             [HEADER, SIGNATURE, ARCHIVE], h.not_signed(at)),
            ("signed by another key", archive,
             signature_reply(self.sign(h.agent_archive(tag), stranger)), {},
             [HEADER, SIGNATURE, ARCHIVE], h.not_signed(at)),
            ("truncated signature", archive, signature_reply(good[:32]), {},
             [HEADER, SIGNATURE], h.signature_size(at, "32")),
            ("signature answers 404", archive, Reply(status=404, body=b"not found\n"), {},
             [HEADER, SIGNATURE], h.no_signature(at, 404)),
            # The signature must be the answer of the agent URL + ".sig"
            # itself: a redirect is not followed, even to a good signature.
            ("signature served through a redirect", archive, moved,
             {h.SIGNATURE_PATH + ".moved": signature_reply(good)}, [HEADER, SIGNATURE],
             h.no_signature(at, 302)),
        ]

    def test_refused_on_an_empty_cache_and_nothing_cached(self):
        for name, archive, signature, extra, requests, refusal in self.refusals("v1"):
            with self.subTest(name):
                home = self.make_dir("home-" + name.replace(" ", "-"))
                self.serve_signed(archive, signature, extra)
                self.server.clear()
                self.assert_failed(self.run_setup(setup=self.signed_setup,
                                                  env=self.env(home=home)), [refusal])
                self.assertEqual(self.server.requests(), requests)
                self.assert_nothing_cached(home)

    def test_refused_update_leaves_the_verified_agent_in_place(self):
        self.serve_signed(agent_reply("v1", '"v1"'),
                          signature_reply(self.sign(h.agent_archive("v1"), self.key)))
        self.assert_agent_ran(self.run_setup(setup=self.signed_setup), tag="v1")
        launcher = h.read_file(self.cached_launcher())
        for name, archive, signature, extra, requests, refusal in self.refusals("v2"):
            with self.subTest(name):
                self.serve_signed(archive, signature, extra)
                self.server.clear()
                self.assert_failed(self.run_setup(setup=self.signed_setup), [refusal])
                self.assertEqual(self.server.requests(), requests)
                self.assert_cache(stored_record('"v1"', self.key), launcher=True)
                self.assertEqual(h.read_file(self.cached_launcher()), launcher)
                self.assertEqual(sorted(os.listdir(self.cache_dir())),
                                 [".inuse", ".lock", ".validatestring", "installagent"])
        # The cached agent still serves once the server offers it again.
        self.serve_signed(agent_reply("v1", '"v1"'),
                          signature_reply(self.sign(h.agent_archive("v1"), self.key)))
        self.assert_agent_ran(self.run_setup(setup=self.signed_setup), tag="v1")

    def test_signature_transfer_cut_off_is_a_failed_download(self):
        good = self.sign(h.agent_archive("v1"), self.key)
        cut = Reply(status=200, body=good, body_cut_at=20)
        self.serve_signed(agent_reply("v1"), cut)
        self.assert_failed(self.run_setup(setup=self.signed_setup),
                           h.m4_lines("Transferred a partial file"))
        self.assert_nothing_cached()

    def test_key_in_the_payload_that_cannot_be_used(self):
        rsa = self.make_key("rsa", algorithm="rsa")
        with open(self.key.private, "rb") as f:
            private_pem = f.read()
        with open(rsa.public, "rb") as f:
            rsa_pem = f.read()
        for name, content in (("garbage", b"-----BEGIN PUBLIC KEY-----\nno key\n"),
                              ("private key", private_pem), ("RSA key", rsa_pem)):
            with self.subTest(name):
                setup = self.pack_payload(self.make_dir("broken-" + name.replace(" ", "-")),
                                          {"agent-key.pem": content})
                self.server.clear()
                self.assert_failed(self.run_setup(setup=setup), [h.KEY_UNUSABLE])
                self.assertEqual(self.server.requests(), [], "no request with a broken key")
                self.assertFalse(os.path.exists(os.path.join(self.home, ".velmar")))


if __name__ == "__main__":
    unittest.main()
