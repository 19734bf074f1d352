# End-to-end test against a real web server: nginx serves the agent archive
# with its own ETag, and the installer's cache follows the file on the server.
import os
import socket
import subprocess
import time
import unittest

import setup_harness as h

NGINX = "/usr/sbin/nginx"

CONFIG = """\
daemon off;
master_process off;
worker_processes 1;
pid {tmp}/nginx.pid;
error_log {tmp}/error.log warn;
events {{ worker_connections 64; }}
http {{
    log_format requests '$request_method $uri $status';
    access_log {tmp}/access.log requests;
    client_body_temp_path {tmp}/body;
    proxy_temp_path {tmp}/proxy;
    fastcgi_temp_path {tmp}/fastcgi;
    uwsgi_temp_path {tmp}/uwsgi;
    scgi_temp_path {tmp}/scgi;
    default_type application/zip;
    server {{
        listen 127.0.0.1:{port};
        root {tmp}/www;
    }}
}}
"""


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Nginx:
    """An nginx process serving `root`; owns the process and its files."""

    def __init__(self, tmp: str):
        self.tmp = tmp
        self.www = os.path.join(tmp, "www")
        os.makedirs(self.www)
        self.proc = None
        for _ in range(5):  # the free port may be taken before nginx binds it
            self.port = free_port()
            if self._start():
                return
        raise AssertionError("nginx did not start: " + self.errors())

    def _start(self) -> bool:
        conf = os.path.join(self.tmp, "nginx.conf")
        text = CONFIG.format(tmp=self.tmp, port=self.port)
        with open(conf, "w") as f:
            f.write(text)
        self.proc = subprocess.Popen([NGINX, "-p", self.tmp, "-c", conf,
                                      "-e", os.path.join(self.tmp, "error.log")],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                return False
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=0.5):
                    return True
            except OSError:
                time.sleep(0.05)
        self.stop()
        return False

    def errors(self) -> str:
        return (h.read_file(os.path.join(self.tmp, "error.log"), b"") or b"").decode()

    def url(self) -> str:
        return "http://127.0.0.1:%d%s" % (self.port, h.agent_server.AGENT_PATH)

    def publish(self, data: bytes, mtime: float,
                path: str = h.agent_server.AGENT_PATH) -> None:
        path = os.path.join(self.www, path.lstrip("/"))
        tmp = path + ".new"
        with open(tmp, "wb") as f:
            f.write(data)
        os.utime(tmp, (mtime, mtime))
        os.replace(tmp, path)

    def requests(self):
        log = h.read_file(os.path.join(self.tmp, "access.log"), b"").decode()
        return [tuple(line.split()) for line in log.splitlines()]

    def stop(self) -> None:
        if self.proc is None or self.proc.poll() is not None:
            return
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class AgainstNginx(h.SetupCase):
    def setUp(self):
        super().setUp()
        self.assertTrue(os.access(NGINX, os.X_OK),
                        "nginx is not installed (%s); install Debian's nginx-light" % NGINX)
        self.nginx = Nginx(self.make_dir("nginx"))
        self.addCleanup(self.nginx.stop)

    def test_cache_follows_the_file_on_the_server(self):
        path = h.agent_server.AGENT_PATH
        self.nginx.publish(h.agent_archive("n1"), time.time() - 3600)
        env = self.env(url=self.nginx.url())

        self.assert_agent_ran(self.run_setup(env=env), tag="n1")
        self.assertEqual(self.nginx.requests(), [("HEAD", path, "200"), ("GET", path, "200")])
        first = self.validator()
        self.assertTrue(first.startswith(b'ETag: "') and first.endswith(b'"\r'), first)

        self.assert_agent_ran(self.run_setup(env=env), tag="n1")
        self.assertEqual(self.nginx.requests()[2:], [("HEAD", path, "200")])
        self.assertEqual(self.validator(), first)

        self.nginx.publish(h.agent_archive("n2-longer"), time.time())
        self.assert_agent_ran(self.run_setup(env=env), tag="n2-longer")
        self.assertEqual(self.nginx.requests()[3:], [("HEAD", path, "200"), ("GET", path, "200")])
        self.assertNotEqual(self.validator(), first)
        self.assertTrue(os.path.isfile(self.cached_launcher()))

    def test_signed_agent_is_verified_and_a_stale_signature_refused(self):
        path, sig = h.agent_server.AGENT_PATH, h.SIGNATURE_PATH
        key = self.make_key("release")
        setup = self.pack(self.make_dir("signed"), agent_key=key.public)
        env = self.env(url=self.nginx.url())
        self.nginx.publish(h.agent_archive("n1"), time.time() - 3600)
        self.nginx.publish(self.sign(h.agent_archive("n1"), key), time.time() - 3600, sig)

        self.assert_agent_ran(self.run_setup(setup=setup, env=env), tag="n1")
        self.assertEqual(self.nginx.requests(),
                         [("HEAD", path, "200"), ("GET", sig, "200"), ("GET", path, "200")])
        first = self.validator()
        self.assertTrue(first.endswith(b'"\r\n' + key.fingerprint), first)

        # A new archive whose signature was not updated: refused, cache kept.
        self.nginx.publish(h.agent_archive("n2-unsigned"), time.time())
        self.assert_failed(self.run_setup(setup=setup, env=env),
                           [h.not_signed(self.nginx.url() + ".sig")])
        self.assertEqual(self.nginx.requests()[3:],
                         [("HEAD", path, "200"), ("GET", sig, "200"), ("GET", path, "200")])
        self.assertEqual(self.validator(), first)

        self.nginx.publish(self.sign(h.agent_archive("n2-unsigned"), key), time.time(), sig)
        self.assert_agent_ran(self.run_setup(setup=setup, env=env), tag="n2-unsigned")
        self.assertNotEqual(self.validator(), first)
        self.assertTrue(self.validator().endswith(b"\n" + key.fingerprint))


if __name__ == "__main__":
    unittest.main()
