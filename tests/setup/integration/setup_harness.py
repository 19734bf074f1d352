# Shared fixture for the installer's end-to-end tests: packs a real setup,
# runs it against a scripted local server and reads back what the agent saw.
"""Helpers for running a packed `setup` end to end.

Paths come from the environment that CTest sets:
  SETUP_STUB       the installer stub (production time-outs)
  SETUP_STUB_FAST  the same code with short network time-outs
  PACK_SETUP       scripts/pack-setup
  OLD_LIBCURL_SHIM the preloaded library that makes libcurl pass for an older one
Each test gets its own temp directory, throw-away HOME and server. Keys for
signed agents are made by the openssl tool in that directory, and agents are
signed with scripts/sign-agent.
"""

import dataclasses
import hashlib
import io
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
from typing import Dict, List, Optional, Sequence

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
sys.path.insert(0, os.path.join(REPO, "scripts"))

import agent_server  # noqa: E402
from agent_server import AgentServer, Reply  # noqa: E402,F401

STUB = os.environ.get("SETUP_STUB", "")
FAST_STUB = os.environ.get("SETUP_STUB_FAST", "")
PACK_SETUP = os.environ.get("PACK_SETUP", os.path.join(REPO, "scripts", "pack-setup"))
OLD_LIBCURL_SHIM = os.environ.get("OLD_LIBCURL_SHIM", "")
SIGN_AGENT = os.path.join(REPO, "scripts", "sign-agent")
SIGNATURE_PATH = agent_server.AGENT_PATH + agent_server.SIGNATURE_SUFFIX

CACHE_SUBPATH = os.path.join(".velmar", "installagent", "T4410c", "kestrel64")
FAILED = "Installation failed."
CHECK_TAIL = ("Check your internet connectivity, proxy server, firewall, and "
              "virus scanner settings and rerun the installer.")
M5 = "Could not reach the download server. " + CHECK_TAIL
UNZIP_FAILED = "Failed to unzip the install agent"
INIT_FAILED = "Failed to initialize the install agent."
PAYLOAD_FAILED = "Internal error: Failed to initialize application installer (201)"

OLD_LIBCURL = ("The installer needs libcurl 7.61.0 or later to download the install agent, "
               "but this system's libcurl is %s.")
KEY_UNUSABLE = ("The install agent key that came with this installer is not a usable "
                "Ed25519 public key; the installer is damaged.")
URL_UNUSABLE = ("The install agent URL that came with this installer is not a usable http or "
                "https URL; the installer is damaged.")


def not_signed(signature_url: str) -> str:
    """The refusal of an archive that the signature at signature_url does not cover."""
    return ("The downloaded install agent is not signed by this release's key: the signature at "
            "%s does not verify against it (the archive was changed after signing, or another "
            "key signed it); refusing to run it." % signature_url)


def no_signature(signature_url: str, code: int) -> str:
    return ("The downloaded install agent is not signed: there is no signature at %s "
            "(HTTP code %d); refusing to run it." % (signature_url, code))


def signature_size(signature_url: str, size: str) -> str:
    return ("The downloaded install agent is not signed: %s holds %s bytes, not a 64-byte "
            "Ed25519 signature; refusing to run it." % (signature_url, size))


def m4_lines(library_text: str) -> List[str]:
    """M4 spans three lines: the sentence, a blank line, '. Check ...'."""
    return ["Error: Download process failed - " + library_text, "", ". " + CHECK_TAIL]


def m6_line(code: int) -> str:
    return ("Error: Download process failed. Received an HTTP code: %d. " % code
            + CHECK_TAIL)


# The test agent: records its arguments (NUL-separated, so empty and
# multi-line arguments survive), its own path, whether the bundle it was
# given exists and what that bundle holds, then exits with $AGENT_EXIT.
AGENT_SCRIPT = b"""\
rec=${AGENT_RECORD_DIR:-$(dirname "$0")/record}
mkdir -p "$rec" || exit 90
n=1
while [ -e "$rec/run.$n" ]; do n=$((n + 1)); done
d="$rec/run.$n.tmp"
mkdir "$d" || exit 91
printf '%s\\0' "$@" > "$d/args"
printf '%s' "$0" > "$d/launcher"
cat "$(dirname "$0")/tag" > "$d/tag" 2>/dev/null
if [ "$1" = "-installbundle" ] && [ -f "$2" ]; then
    printf yes > "$d/bundle_exists"
    unzip -Z1 "$2" > "$d/listing" 2>&1
else
    printf no > "$d/bundle_exists"
fi
mv "$d" "$rec/run.$n"
exit "${AGENT_EXIT:-0}"
"""


def zip_bytes(files: Dict[str, bytes], stored: bool = False) -> bytes:
    buf = io.BytesIO()
    method = zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED
    with zipfile.ZipFile(buf, "w", method) as zf:
        for name, data in files.items():
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 2, 3, 4, 6))
            info.external_attr = 0o100644 << 16
            info.compress_type = method
            zf.writestr(info, data)
    return buf.getvalue()


def agent_archive(tag: str, padding: int = 0) -> bytes:
    """An agent archive whose launcher records its runs; `tag` tells versions apart."""
    files = {"install": AGENT_SCRIPT, "tag": tag.encode()}
    if padding:
        files["padding.bin"] = os.urandom(padding)
    return zip_bytes(files, stored=bool(padding))


BUNDLE_FILES = {"app/readme.txt": b"demo application\n", "app/bin/tool": b"#!/bin/sh\n"}


def bundle_archive() -> bytes:
    return zip_bytes(BUNDLE_FILES)


def agent_reply(tag: str, etag: Optional[str] = '"v1"', name: str = "ETag",
                **kw) -> Reply:
    headers = ((name, etag),) if etag is not None else ()
    return Reply(status=200, headers=headers, body=agent_archive(tag), **kw)


def stored_validator(etag: str, name: str = "ETag") -> bytes:
    """The header line as the installer records it: name, value, carriage return."""
    return ("%s: %s\r" % (name, etag)).encode()


def openssl(*args: str) -> bytes:
    done = subprocess.run(("openssl",) + args, stdin=subprocess.DEVNULL, capture_output=True)
    if done.returncode != 0:
        raise AssertionError("openssl %s: %s" % (" ".join(args), done.stderr.decode()))
    return done.stdout


@dataclasses.dataclass
class KeyPair:
    private: str      # PEM private key, as openssl genpkey writes it
    public: str       # PEM public key
    fingerprint: bytes  # hex SHA-256 of the public key's DER form


def make_key(directory: str, name: str, algorithm: str = "ed25519") -> KeyPair:
    """A fresh key pair in `directory`, made by the openssl tool."""
    private = os.path.join(directory, name + ".pem")
    public = os.path.join(directory, name + ".pub")
    openssl("genpkey", "-algorithm", algorithm, "-out", private)
    openssl("pkey", "-in", private, "-pubout", "-out", public)
    der = openssl("pkey", "-pubin", "-in", public, "-outform", "DER")
    return KeyPair(private, public, hashlib.sha256(der).hexdigest().encode())


def run_sign_agent(*args: str) -> subprocess.CompletedProcess:
    return subprocess.run([SIGN_AGENT] + list(args), stdin=subprocess.DEVNULL,
                          capture_output=True, text=True)


def signature_reply(signature: bytes) -> Reply:
    return Reply(status=200, headers=(("Content-Type", "application/octet-stream"),),
                 body=signature)


def stored_record(etag: str, key: KeyPair) -> bytes:
    """The record of an agent verified against key: validator, line feed, fingerprint."""
    return stored_validator(etag) + b"\n" + key.fingerprint


@dataclasses.dataclass
class AgentRun:
    args: List[bytes]
    launcher: str
    tag: str
    bundle_existed: bool
    listing: List[str]

    @property
    def bundle(self) -> str:
        return os.fsdecode(self.args[1]) if len(self.args) > 1 else ""

    @property
    def workspace(self) -> str:
        return os.path.dirname(self.bundle)


@dataclasses.dataclass
class Outcome:
    status: int
    stderr: bytes
    runs: List[AgentRun]
    elapsed: float

    @property
    def lines(self) -> List[str]:
        text = self.stderr.decode("utf-8", "replace")
        if text.endswith("\n"):
            text = text[:-1]
        return text.split("\n") if text else []


def read_file(path: str, default: Optional[bytes] = None) -> Optional[bytes]:
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return default


def read_run(run_dir: str) -> AgentRun:
    raw = read_file(os.path.join(run_dir, "args"), b"")
    args = raw.split(b"\0")[:-1] if raw else []
    listing = read_file(os.path.join(run_dir, "listing"), b"").decode()
    return AgentRun(args=args,
                    launcher=read_file(os.path.join(run_dir, "launcher"), b"").decode(),
                    tag=read_file(os.path.join(run_dir, "tag"), b"").decode(),
                    bundle_existed=read_file(os.path.join(run_dir, "bundle_exists")) == b"yes",
                    listing=sorted(line for line in listing.splitlines() if line))


# In a mount namespace of its own: keeps the test's directory $1 (under /tmp)
# at its path inside the directory $0, mounts $0 on /tmp, then runs the
# command line after them.
_PRIVATE_TMP_SCRIPT = ('inner="$0/${1#/tmp/}" && mkdir -p "$inner" && mount --bind "$1" "$inner" '
                       '&& mount --rbind "$0" /tmp && shift && exec "$@"')
_private_tmp_works: Optional[bool] = None


def private_tmp_prefix(directory: str, test_dir: str) -> List[str]:
    """A command prefix that gives its command `directory` as /tmp, with the
    test's own directory still at its path, so that the workspaces of runs
    killed on purpose stay inside the test's directory; empty where that
    needs what this machine lacks (root, unshare), and the runs then use the
    real /tmp."""
    global _private_tmp_works
    command = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
               _PRIVATE_TMP_SCRIPT, directory, test_dir]
    if _private_tmp_works is None:
        _private_tmp_works = (os.geteuid() == 0 and shutil.which("unshare") is not None and
                              test_dir.startswith("/tmp/") and
                              subprocess.run(command + ["true"], capture_output=True).returncode == 0)
    return command if _private_tmp_works else []


class SetupCase(unittest.TestCase):
    """Own temp dir, HOME, record dir, scripted server and a packed setup."""

    stub = STUB
    # Whether setup sees a directory of the test's own as /tmp (see
    # private_tmp_prefix): for cases that kill runs on purpose. Nothing else
    # under the machine's /tmp is visible to such a run.
    private_tmp_runs = False

    def setUp(self):
        if not self.stub or not os.access(self.stub, os.X_OK):
            self.fail("installer stub is missing: '%s' (build it first)" % self.stub)
        self.tmp = tempfile.mkdtemp(prefix="setup-it.")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.home = self.make_dir("home")
        self.record_dir = os.path.join(self.tmp, "records")
        self.cwd = self.make_dir("cwd")
        self.private_tmp = self.make_dir("tmp")
        os.chmod(self.private_tmp, 0o1777)
        self.bundle = os.path.join(self.tmp, "myapp-1.0.zip")
        with open(self.bundle, "wb") as f:
            f.write(bundle_archive())
        self.server = AgentServer(agent_server.per_method(agent_reply("v1")))
        self.addCleanup(self.server.close)
        self.setup_path = self.pack(self.make_dir("dist"))
        self._runs_seen = 0

    # --- building -----------------------------------------------------
    def make_dir(self, *parts: str) -> str:
        path = os.path.join(self.tmp, *parts)
        os.makedirs(path, exist_ok=True)
        return path

    def write(self, path: str, data: bytes) -> str:
        with open(path, "wb") as f:
            f.write(data)
        return path

    def pack(self, out_dir: str, add: Sequence[str] = (), stub: Optional[str] = None,
             name: str = "setup", agent_key: Optional[str] = None,
             agent_url: Optional[str] = None) -> str:
        out = os.path.join(out_dir, name)
        cmd = [PACK_SETUP, "--stub", stub or self.stub, "--bundle", self.bundle]
        for path in add:
            cmd += ["--add", path]
        if agent_key is not None:
            cmd += ["--agent-key", agent_key]
        if agent_url is not None:
            cmd += ["--agent-url", agent_url]
        done = subprocess.run(cmd + ["--output", out], capture_output=True)
        self.assertEqual(done.returncode, 0, done.stderr.decode())
        return out

    def pack_payload(self, out_dir: str, files: Dict[str, bytes]) -> str:
        """A setup whose payload holds bundle.zip and exactly these files, as
        pack-setup would refuse to make it: offsets count from the file start."""
        out = os.path.join(out_dir, "setup")
        shutil.copyfile(self.stub, out)
        with zipfile.ZipFile(out, "a", zipfile.ZIP_STORED) as zf:
            zf.writestr("bundle.zip", bundle_archive())
            for name, data in files.items():
                zf.writestr(name, data)
        os.chmod(out, 0o755)
        return out

    # --- signed agents --------------------------------------------------
    def make_key(self, name: str, algorithm: str = "ed25519") -> KeyPair:
        return make_key(self.make_dir("keys"), name, algorithm)

    def sign(self, archive: bytes, key: KeyPair) -> bytes:
        """The signature of `archive` by key, made by scripts/sign-agent."""
        path = self.write(os.path.join(self.make_dir("signing"), "archive.zip"), archive)
        done = run_sign_agent("--key", key.private, path)
        self.assertEqual(done.returncode, 0, done.stderr)
        return read_file(path + agent_server.SIGNATURE_SUFFIX)

    def serve_signed(self, archive: Reply, signature: Reply,
                     extra: Optional[Dict[str, Reply]] = None) -> None:
        """The archive at the agent path, the signature beside it."""
        routes = {SIGNATURE_PATH: agent_server.per_method(signature)}
        for path, reply in (extra or {}).items():
            routes[path] = agent_server.per_method(reply)
        self.server.set_responder(agent_server.by_path(routes, agent_server.per_method(archive)))

    # --- running ------------------------------------------------------
    def env(self, url: Optional[str] = None, home: Optional[str] = None,
            **extra: str) -> Dict[str, str]:
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
               "HOME": home if home is not None else self.home,
               "AGENT_RECORD_DIR": self.record_dir,
               "ZQ_INTERNAL_INSTALL_AGENT_URL": url if url is not None else self.server.url()}
        env.update(extra)
        return env

    def env_imitating(self, libcurl: str, **extra: str) -> Dict[str, str]:
        """env() with the system's libcurl passing for the release `libcurl`."""
        if not os.path.isfile(OLD_LIBCURL_SHIM):
            self.fail("libcurl shim is missing: '%s' (build it first)" % OLD_LIBCURL_SHIM)
        # AddressSanitizer wants its runtime first among the libraries; the
        # preloaded shim comes before it, and replaces nothing it intercepts.
        return self.env(LD_PRELOAD=OLD_LIBCURL_SHIM, IMITATED_LIBCURL=libcurl,
                        ASAN_OPTIONS="verify_asan_link_order=0", **extra)

    def run_setup(self, args: Sequence = (), env: Optional[Dict[str, str]] = None,
                  setup: Optional[str] = None, timeout: float = 60,
                  wrapper: Sequence[str] = (), preexec_fn=None) -> Outcome:
        """Runs setup (after the `wrapper` command line, if any)."""
        start = time.monotonic()
        done = subprocess.run(self.setup_command(setup, wrapper) + list(args),
                              env=env if env is not None else self.env(),
                              cwd=self.cwd, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=timeout, preexec_fn=preexec_fn)
        elapsed = time.monotonic() - start
        self.assertEqual(done.stdout, b"", "setup wrote to standard output")
        return Outcome(done.returncode, done.stderr, self.new_runs(), elapsed)

    def setup_command(self, setup: Optional[str] = None,
                      wrapper: Sequence[str] = ()) -> List[str]:
        """The command line that starts setup (after `wrapper`, if any)."""
        prefix = private_tmp_prefix(self.private_tmp, self.tmp) if self.private_tmp_runs else []
        return prefix + list(wrapper) + [setup or self.setup_path]

    def outside_path(self, path: str) -> str:
        """Where a path that setup saw under /tmp is seen from the test."""
        if (path.startswith("/tmp/") and self.private_tmp_runs and
                private_tmp_prefix(self.private_tmp, self.tmp)):
            return os.path.join(self.private_tmp, path[len("/tmp/"):])
        return path

    def new_runs(self) -> List[AgentRun]:
        runs = []
        while True:
            run_dir = os.path.join(self.record_dir, "run.%d" % (self._runs_seen + 1))
            if not os.path.isdir(run_dir):
                return runs
            self._runs_seen += 1
            runs.append(read_run(run_dir))

    # --- cache --------------------------------------------------------
    def cache_dir(self, home: Optional[str] = None) -> str:
        return os.path.join(home or self.home, CACHE_SUBPATH)

    def validator(self, home: Optional[str] = None) -> Optional[bytes]:
        return read_file(os.path.join(self.cache_dir(home), ".validatestring"))

    def cached_launcher(self, home: Optional[str] = None) -> str:
        return os.path.join(self.cache_dir(home), "installagent", "install")

    # --- assertions ---------------------------------------------------
    def assert_agent_ran(self, outcome: Outcome, tag: Optional[str] = None,
                         args: Sequence[bytes] = ()) -> AgentRun:
        """Exit 0, silent, agent ran once on the real bundle; workspace gone."""
        self.assertEqual(outcome.lines, [])
        self.assertEqual(outcome.status, 0)
        self.assertEqual(len(outcome.runs), 1, "agent runs")
        run = outcome.runs[0]
        self.assertEqual(run.args[0], b"-installbundle")
        self.assertEqual(os.path.basename(run.bundle), "bundle.zip")
        self.assertEqual(run.args[2:], list(args))
        self.assertTrue(run.bundle_existed, "bundle.zip missing while the agent ran")
        self.assertEqual(run.listing, sorted(BUNDLE_FILES))
        if tag is not None:
            self.assertEqual(run.tag, tag)
        if run.workspace.startswith("/tmp/zq"):
            self.assertFalse(os.path.exists(self.outside_path(run.workspace)),
                             "workspace left behind")
        return run

    def assert_failed(self, outcome: Outcome, lines: Sequence[str]) -> None:
        """Exit 255, exactly these stderr lines then 'Installation failed.'."""
        self.assertEqual(outcome.lines, list(lines) + [FAILED])
        self.assertEqual(outcome.status, 255)
        self.assertEqual(outcome.runs, [], "the agent must not have run")

    def assert_cache(self, validator: Optional[bytes], launcher: bool,
                     home: Optional[str] = None) -> None:
        self.assertEqual(self.validator(home), validator)
        self.assertEqual(os.path.isfile(self.cached_launcher(home)), launcher)

    def assert_nothing_cached(self, home: Optional[str] = None) -> None:
        """No agent, no record, no leftovers: only the lock files."""
        base = self.cache_dir(home)
        entries = sorted(os.listdir(base)) if os.path.isdir(base) else []
        self.assertLessEqual(set(entries), {".inuse", ".lock"}, entries)
