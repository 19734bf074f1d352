# Tests of pack-setup (payload layout, refusals) and of setup runs whose
# payload carries its own agent archive or is unpacked next to the file.
import os
import shutil
import struct
import subprocess
import tempfile
import unittest
import zipfile

import setup_harness as h

EOCD = b"PK\x05\x06"
EXTRA_TIMESTAMP = 0x5455
EXTRA_UNIX_OWNER = 0x7875


def extra_ids(extra: bytes):
    ids, pos = [], 0
    while pos + 4 <= len(extra):
        ident, size = struct.unpack("<HH", extra[pos:pos + 4])
        ids.append(ident)
        pos += 4 + size
    return ids


class PayloadLayout(h.SetupCase):
    def test_packed_file_layout(self):
        extra = self.write(os.path.join(self.tmp, "notes.txt"), b"release notes\n")
        out = self.pack(self.make_dir("layout"), add=[extra])
        with open(out, "rb") as f:
            data = f.read()
        with open(self.stub, "rb") as f:
            stub = f.read()
        self.assertTrue(data.startswith(stub), "stub not copied unchanged")
        self.assertTrue(os.access(out, os.X_OK))

        listing = subprocess.run(["unzip", "-l", out], capture_output=True, text=True)
        self.assertEqual(listing.returncode, 0, listing.stdout + listing.stderr)
        self.assertIn("bundle.zip", listing.stdout)

        # End record closes the file, no comment, offsets from the file start.
        tail = data[-22:]
        self.assertEqual(tail[:4], EOCD)
        entries, cd_size, cd_offset, comment = struct.unpack("<10xHIIH", tail)
        self.assertEqual(comment, 0)
        self.assertEqual(entries, 2)
        self.assertEqual(cd_offset + cd_size, len(data) - 22)
        self.assertGreaterEqual(cd_offset, len(stub))

        with zipfile.ZipFile(out) as zf:
            infos = {info.filename: info for info in zf.infolist()}
            self.assertEqual(sorted(infos), ["bundle.zip", "notes.txt"])
            for info in infos.values():
                self.assertEqual(info.compress_type, zipfile.ZIP_STORED)
                self.assertEqual(info.create_system, 3, "made on Unix")
                self.assertEqual(info.external_attr >> 16, 0o100644)
                self.assertIn(EXTRA_TIMESTAMP, extra_ids(info.extra))
                self.assertIn(EXTRA_UNIX_OWNER, extra_ids(info.extra))
                # Local header offsets count from the start of the whole file.
                local = data[info.header_offset:info.header_offset + 4]
                self.assertEqual(local, b"PK\x03\x04")
            self.assertEqual(zf.read("bundle.zip"), h.bundle_archive())
            self.assertEqual(zf.read("notes.txt"), b"release notes\n")


class PackRefusals(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="pack-it.")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.stub = self.write("stub", b"\x7fELF not really a program")
        self.bundle = self.write("app.zip", h.bundle_archive())
        self.out_dir = os.path.join(self.tmp, "out")
        os.mkdir(self.out_dir)
        self.out = os.path.join(self.out_dir, "setup")

    def write(self, name, data):
        path = os.path.join(self.tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def pack(self, *args):
        return subprocess.run([h.PACK_SETUP] + list(args), capture_output=True, text=True)

    def assert_refused(self, done, status, out_entries=()):
        self.assertEqual(done.returncode, status, done.stderr)
        self.assertEqual(done.stdout, "")
        lines = done.stderr.splitlines()
        self.assertEqual(len(lines), 1, lines)
        self.assertTrue(lines[0].startswith("pack-setup: "), lines[0])
        self.assertEqual(sorted(os.listdir(self.out_dir)), sorted(out_entries),
                         "something was left next to OUT")

    def test_bad_inputs_exit_1_and_leave_nothing(self):
        notzip = self.write("notzip.zip", b"just text\n")
        same_a = self.write("agent.zip", b"a")
        os.mkdir(os.path.join(self.tmp, "sub"))
        same_b = os.path.join(self.tmp, "sub", "agent.zip")
        with open(same_b, "wb") as f:
            f.write(b"b")
        named_bundle = self.write("bundle.zip", b"c")
        cases = {
            "missing stub": ["--stub", self.stub + ".nope", "--bundle", self.bundle],
            "missing bundle": ["--stub", self.stub, "--bundle", self.bundle + ".nope"],
            "missing add": ["--stub", self.stub, "--bundle", self.bundle,
                            "--add", os.path.join(self.tmp, "nope")],
            "bundle not a zip": ["--stub", self.stub, "--bundle", notzip],
            "stub is a directory": ["--stub", self.tmp, "--bundle", self.bundle],
            "same base name twice": ["--stub", self.stub, "--bundle", self.bundle,
                                     "--add", same_a, "--add", same_b],
            "add named bundle.zip": ["--stub", self.stub, "--bundle", self.bundle,
                                     "--add", named_bundle],
        }
        for name, args in cases.items():
            with self.subTest(name):
                self.assert_refused(self.pack(*args, "--output", self.out), 1)

    def test_output_that_is_a_directory(self):
        os.mkdir(self.out)
        done = self.pack("--stub", self.stub, "--bundle", self.bundle, "--output", self.out)
        self.assert_refused(done, 1, out_entries=["setup"])
        self.assertEqual(os.listdir(self.out), [])

    def test_failure_keeps_an_existing_output(self):
        with open(self.out, "wb") as f:
            f.write(b"previous release")
        notzip = self.write("notzip.zip", b"x")
        done = self.pack("--stub", self.stub, "--bundle", notzip, "--output", self.out)
        self.assert_refused(done, 1, out_entries=["setup"])
        with open(self.out, "rb") as f:
            self.assertEqual(f.read(), b"previous release")

    def test_success_replaces_output_and_leaves_no_temp(self):
        with open(self.out, "wb") as f:
            f.write(b"previous release")
        done = self.pack("--stub", self.stub, "--bundle", self.bundle, "--output", self.out)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stderr, "")
        self.assertEqual(os.listdir(self.out_dir), ["setup"])
        with zipfile.ZipFile(self.out) as zf:
            self.assertEqual(zf.namelist(), ["bundle.zip"])

    def test_command_line(self):
        done = self.pack("--help")
        self.assertEqual(done.returncode, 0)
        self.assertIn("usage: pack-setup --stub STUB --bundle FILE", done.stdout)
        for args in (["--stub", self.stub], ["--frobnicate"], ["--stub"],
                     ["--stub", self.stub, "--stub", self.stub, "--bundle", self.bundle,
                      "--output", self.out]):
            with self.subTest(args=args):
                self.assert_refused(self.pack(*args), 2)


class PayloadAgents(h.SetupCase):
    def pack_with_agent(self, name):
        agent = self.write(os.path.join(self.tmp, name), h.agent_archive("bundled"))
        return self.pack(self.make_dir("with-" + name), add=[agent])

    def test_payload_agent_archive_needs_no_network(self):
        for name in ("InstallAgent.zip", "InstallAgent_1.zip"):
            with self.subTest(name):
                setup = self.pack_with_agent(name)
                run = self.assert_agent_ran(self.run_setup(setup=setup), tag="bundled")
                self.assertEqual(self.server.requests(), [], "no request expected")
                self.assertEqual(os.path.dirname(run.launcher), run.workspace,
                                 "agent should run from the workspace")
                self.assert_cache(None, launcher=False)

    def test_unittest_variable_unpacks_next_to_setup(self):
        env = self.env(__ZQ_BOOTSTRAP_INSTALLER_UNITTEST__="")
        run = self.assert_agent_ran(self.run_setup(env=env), tag="v1")
        here = os.path.dirname(self.setup_path)
        self.assertEqual(run.bundle, os.path.join(here, "bundle.zip"))
        self.assertTrue(os.path.isfile(os.path.join(here, "bundle.zip")))
        with open(os.path.join(here, "bundle.zip"), "rb") as f:
            self.assertEqual(f.read(), h.bundle_archive())
        # The downloaded agent archive lands in the same directory.
        self.assertEqual(h.read_file(os.path.join(here, "InstallAgent.zip")),
                         h.agent_archive("v1"))


if __name__ == "__main__":
    unittest.main()
