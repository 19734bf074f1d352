# End-to-end tests of the agent download and the per-user cache: which
# requests a packed setup makes and what it leaves on disk, run after run.
import os
import unittest

import setup_harness as h
from setup_harness import Reply, agent_reply, signature_reply, stored_record, stored_validator
from agent_server import per_method, redirect_chain

HEAD = "HEAD"
GET = "GET"
ARCHIVE = (GET, h.agent_server.AGENT_PATH)
SIGNATURE = (GET, h.SIGNATURE_PATH)
HEADER = (HEAD, h.agent_server.AGENT_PATH)


class CacheLifecycle(h.SetupCase):
    def test_first_run_downloads_then_second_reuses_the_cache(self):
        first = self.run_setup()
        self.assert_agent_ran(first, tag="v1")
        self.assertEqual(self.server.methods(), [HEAD, GET])
        self.assertTrue(all(path == h.agent_server.AGENT_PATH
                            for _, path in self.server.requests()))
        self.assert_cache(stored_validator('"v1"'), launcher=True)
        self.assertEqual(first.runs[0].launcher, self.cached_launcher())

        self.server.clear()
        second = self.run_setup()
        self.assert_agent_ran(second, tag="v1")
        self.assertEqual(self.server.methods(), [HEAD], "one header-only request, no GET")
        self.assert_cache(stored_validator('"v1"'), launcher=True)

    def test_changed_etag_makes_the_cache_stale(self):
        self.assert_agent_ran(self.run_setup(), tag="v1")
        stale_marker = os.path.join(self.cache_dir(), "installagent", "old-file")
        self.write(stale_marker, b"from the old agent")
        self.server.set_responder(per_method(agent_reply("v2", '"v2"')))
        self.server.clear()

        self.assert_agent_ran(self.run_setup(), tag="v2")
        self.assertEqual(self.server.methods(), [HEAD, GET])
        self.assert_cache(stored_validator('"v2"'), launcher=True)
        self.assertFalse(os.path.exists(stale_marker), "stale agent not removed")

    def test_deleted_launcher_means_download_again(self):
        self.assert_agent_ran(self.run_setup())
        os.unlink(self.cached_launcher())
        self.server.clear()
        self.assert_agent_ran(self.run_setup(), tag="v1")
        self.assertEqual(self.server.methods(), [HEAD, GET])

    def test_no_etag_downloads_every_time_and_stores_nothing(self):
        self.server.set_responder(per_method(agent_reply("plain", etag=None)))
        for _ in range(2):
            self.server.clear()
            self.assert_agent_ran(self.run_setup(), tag="plain")
            self.assertEqual(self.server.methods(), [HEAD, GET])
            self.assert_cache(None, launcher=True)

    def test_lower_case_etag_name_is_captured_as_sent(self):
        self.server.set_responder(per_method(agent_reply("lc", '"x1"', name="etag")))
        self.assert_agent_ran(self.run_setup(), tag="lc")
        self.assert_cache(stored_validator('"x1"', name="etag"), launcher=True)
        self.server.clear()
        self.assert_agent_ran(self.run_setup(), tag="lc")
        self.assertEqual(self.server.methods(), [HEAD])

        # Only the name's case changed: the recorded line no longer matches.
        self.server.set_responder(per_method(agent_reply("uc", '"x1"', name="ETag")))
        self.server.clear()
        self.assert_agent_ran(self.run_setup(), tag="uc")
        self.assertEqual(self.server.methods(), [HEAD, GET])


class LongValidators(h.SetupCase):
    def test_long_etag_is_stored_whole_and_compared_whole(self):
        long_etag = '"' + "a" * 120 + '"'
        self.server.set_responder(per_method(agent_reply("long1", long_etag)))
        self.assert_agent_ran(self.run_setup(), tag="long1")
        self.assert_cache(stored_validator(long_etag), launcher=True)
        self.server.clear()
        self.assert_agent_ran(self.run_setup(), tag="long1")
        self.assertEqual(self.server.methods(), [HEAD])

        # Same first 63 characters of the header line, different end.
        other = '"' + "a" * 119 + 'b"'
        self.assertEqual(stored_validator(other)[:63], stored_validator(long_etag)[:63])
        self.server.set_responder(per_method(agent_reply("long2", other)))
        self.server.clear()
        self.assert_agent_ran(self.run_setup(), tag="long2")
        self.assertEqual(self.server.methods(), [HEAD, GET])
        self.assert_cache(stored_validator(other), launcher=True)

    def test_oversized_etag_still_installs(self):
        huge = '"' + "z" * 9000 + '"'
        self.server.set_responder(per_method(agent_reply("huge", huge)))
        for _ in range(2):
            self.assert_agent_ran(self.run_setup(), tag="huge")
        stored = self.validator()
        self.assertLessEqual(len(stored or b""), 8192)


class Redirects(h.SetupCase):
    def test_302_then_200_is_judged_200_and_the_final_etag_is_stored(self):
        final = agent_reply("r1", '"final"')
        self.server.set_responder(redirect_chain(final, hops=1,
                                                 hop_headers=(("ETag", '"hop"'),)))
        self.assert_agent_ran(self.run_setup(), tag="r1")
        self.assertEqual(self.server.requests(),
                         [(HEAD, h.agent_server.AGENT_PATH), (HEAD, "/hop/1"),
                          (GET, h.agent_server.AGENT_PATH), (GET, "/hop/1")])
        self.assert_cache(stored_validator('"final"'), launcher=True)

        self.server.clear()
        self.assert_agent_ran(self.run_setup(), tag="r1")
        self.assertEqual(self.server.methods(), [HEAD, HEAD], "no GET when current")

    def test_etag_only_on_a_redirect_hop_is_not_a_validator(self):
        final = agent_reply("r2", etag=None)
        self.server.set_responder(redirect_chain(final, hops=2,
                                                 hop_headers=(("ETag", '"hop"'),)))
        for _ in range(2):
            self.server.clear()
            self.assert_agent_ran(self.run_setup(), tag="r2")
            self.assertIn(GET, self.server.methods())
            self.assert_cache(None, launcher=True)

    def test_302_then_404_is_judged_404(self):
        self.server.set_responder(redirect_chain(Reply(status=404), hops=1))
        self.assert_failed(self.run_setup(), [h.M5])


class CacheLocation(h.SetupCase):
    def test_symlinked_cache_directory_of_the_users_own_works(self):
        real = self.make_dir("elsewhere", "cache")
        os.chmod(real, 0o700)
        link = self.cache_dir()
        os.makedirs(os.path.dirname(link), mode=0o700)
        os.symlink(real, link)
        self.assert_agent_ran(self.run_setup(), tag="v1")
        self.assertEqual(h.read_file(os.path.join(real, ".validatestring")),
                         stored_validator('"v1"'))
        self.assertTrue(os.path.isfile(os.path.join(real, "installagent", "install")))
        self.server.clear()
        self.assert_agent_ran(self.run_setup(), tag="v1")
        self.assertEqual(self.server.methods(), [HEAD])

    def test_home_with_blank_and_single_quote(self):
        home = self.make_dir("it's my home")
        env = self.env(home=home)
        self.assert_agent_ran(self.run_setup(env=env), tag="v1")
        self.assert_cache(stored_validator('"v1"'), launcher=True, home=home)
        stale_marker = os.path.join(self.cache_dir(home), "installagent", "old-file")
        self.write(stale_marker, b"old")

        self.server.set_responder(per_method(agent_reply("v2", '"v2"')))
        self.assert_agent_ran(self.run_setup(env=env), tag="v2")
        self.assertFalse(os.path.exists(stale_marker), "stale agent not removed")
        self.assert_cache(stored_validator('"v2"'), launcher=True, home=home)
        self.assertTrue(os.path.isdir(os.path.join(self.tmp, "it's my home")))


class AgentUrl(h.SetupCase):
    """The URL comes from the environment, else from the release's payload."""

    def test_the_url_the_release_was_packed_with(self):
        setup = self.pack(self.make_dir("with-url"), agent_url=self.server.url())
        env = self.env()
        del env["ZQ_INTERNAL_INSTALL_AGENT_URL"]
        self.assert_agent_ran(self.run_setup(setup=setup, env=env), tag="v1")
        self.assertEqual(self.server.requests(), [HEADER, ARCHIVE])
        # The environment still overrides it.
        other = h.AgentServer(per_method(agent_reply("other", '"o"')))
        self.addCleanup(other.close)
        self.assert_agent_ran(self.run_setup(setup=setup, env=self.env(url=other.url())),
                              tag="other")
        self.assertEqual(self.server.requests(), [HEADER, ARCHIVE])

    def test_a_damaged_url_file_stops_the_run_before_any_request(self):
        setup = self.pack_payload(self.make_dir("damaged"), {"agent-url": b"ftp://x/agent\n"})
        self.assert_failed(self.run_setup(setup=setup), [h.URL_UNUSABLE])
        self.assertEqual(self.server.requests(), [])


class SignedAgents(h.SetupCase):
    """A release packed with an agent key: the signature is fetched and
    checked before the archive counts, and the cache records the key."""

    def setUp(self):
        super().setUp()
        self.key = self.make_key("release")
        self.signed_setup = self.pack(self.make_dir("signed"), agent_key=self.key.public)
        self.serve("s1", self.key)

    def serve(self, tag, key):
        archive = h.agent_archive(tag)
        self.serve_signed(agent_reply(tag, '"%s"' % tag), signature_reply(self.sign(archive, key)))

    def test_good_signature_runs_the_agent_and_the_cache_records_the_key(self):
        run = self.assert_agent_ran(self.run_setup(setup=self.signed_setup), tag="s1")
        self.assertEqual(run.launcher, self.cached_launcher())
        self.assertEqual(self.server.requests(), [HEADER, SIGNATURE, ARCHIVE])
        self.assert_cache(stored_record('"s1"', self.key), launcher=True)

        self.server.clear()
        self.assert_agent_ran(self.run_setup(setup=self.signed_setup), tag="s1")
        self.assertEqual(self.server.requests(), [HEADER], "a verified cache costs one HEAD")

    def test_cache_of_an_unsigned_release_is_downloaded_and_verified(self):
        self.assert_agent_ran(self.run_setup(), tag="s1")
        self.assertEqual(self.server.requests(), [HEADER, ARCHIVE], "no signature asked for")
        self.assert_cache(stored_validator('"s1"'), launcher=True)

        self.server.clear()
        self.assert_agent_ran(self.run_setup(setup=self.signed_setup), tag="s1")
        self.assertEqual(self.server.requests(), [HEADER, SIGNATURE, ARCHIVE])
        self.assert_cache(stored_record('"s1"', self.key), launcher=True)

        # The unsigned release reads the validator line and uses the cache.
        self.server.clear()
        self.assert_agent_ran(self.run_setup(), tag="s1")
        self.assertEqual(self.server.requests(), [HEADER])
        self.assert_cache(stored_record('"s1"', self.key), launcher=True)

    def test_a_new_key_makes_caches_of_the_old_one_stale(self):
        self.assert_agent_ran(self.run_setup(setup=self.signed_setup), tag="s1")
        new_key = self.make_key("next")
        next_setup = self.pack(self.make_dir("next"), agent_key=new_key.public)
        self.serve("s1", new_key)  # the same archive and validator, signed anew

        self.server.clear()
        self.assert_agent_ran(self.run_setup(setup=next_setup), tag="s1")
        self.assertEqual(self.server.requests(), [HEADER, SIGNATURE, ARCHIVE])
        self.assert_cache(stored_record('"s1"', new_key), launcher=True)

        # The old release no longer trusts that cache, nor the new signature.
        self.server.clear()
        self.assert_failed(self.run_setup(setup=self.signed_setup),
                           [h.not_signed(self.server.url(h.SIGNATURE_PATH))])
        self.assertEqual(self.server.requests(), [HEADER, SIGNATURE, ARCHIVE])
        self.assert_cache(stored_record('"s1"', new_key), launcher=True)

    def test_the_machines_openssl_configuration_is_not_read(self):
        # setup carries its own libcrypto: a configuration written for the
        # machine's OpenSSL (here one that loads only the provider that can
        # verify nothing) must not reach it.
        conf = self.write(os.path.join(self.tmp, "openssl.cnf"),
                          b"openssl_conf = init\n[init]\nproviders = providers\n"
                          b"[providers]\nnull = null\n[null]\nactivate = 1\n")
        outcome = self.run_setup(setup=self.signed_setup, env=self.env(OPENSSL_CONF=conf))
        self.assert_agent_ran(outcome, tag="s1")


class OlderLibcurl(h.SetupCase):
    """The system's libcurl passing for Ubuntu 22.04's 7.81 and RHEL 8's
    7.61, which take no protocol names, and for 7.60, which is too old."""

    def test_download_ftp_redirect_and_signed_release(self):
        key = self.make_key("release")
        signed_setup = self.pack(self.make_dir("signed"), agent_key=key.public)
        signature = self.sign(h.agent_archive("s1"), key)
        to_ftp = Reply(status=302, headers=(("Location", "ftp://127.0.0.1:1/agent"),))
        for libcurl in ("7.81.0", "7.61.0"):
            with self.subTest(libcurl=libcurl):
                env = self.env_imitating(libcurl, HOME=self.make_dir("home-" + libcurl))
                self.server.set_responder(per_method(agent_reply("v1")))
                self.assert_agent_ran(self.run_setup(env=env), tag="v1")

                self.server.set_responder(per_method(to_ftp))
                self.assert_failed(self.run_setup(env=env), h.m4_lines("Unsupported protocol"))

                self.serve_signed(agent_reply("s1", '"s1"'), signature_reply(signature))
                self.server.clear()
                self.assert_agent_ran(self.run_setup(env=env, setup=signed_setup), tag="s1")
                self.assertEqual(self.server.requests(), [HEADER, SIGNATURE, ARCHIVE])

    def test_below_7_61_the_run_stops_with_one_sentence(self):
        outcome = self.run_setup(env=self.env_imitating("7.60.0"))
        self.assert_failed(outcome, [h.OLD_LIBCURL % "7.60.0"])
        self.assertEqual(self.server.requests(), [])


if __name__ == "__main__":
    unittest.main()
