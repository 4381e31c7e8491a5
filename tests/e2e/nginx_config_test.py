#!/usr/bin/env python3
"""The sample nginx configuration (tools/nginx/update-service.conf.in), as started by
tests/e2e/nginx-fixture.sh, seen by a client on the host: which protocols it speaks, which paths
and methods it answers and with which headers.

  nginx_config_test.py --state STATE_DIR --port PORT --ca CA.pem
"""

import argparse
import http.client
import os
import ssl
import sys
import unittest
import warnings

MANIFEST_PATH = "/tov/v2/client/client-updates/orvanti"
DOWNLOAD_PATH = "/tov/v2/client/client-updates/orvanti/download"
OPTIONS = None
# The old protocol versions are deprecated in Python too; this client asks for them on purpose.
warnings.filterwarnings("ignore", category=DeprecationWarning)


def context(version=None):
    result = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    result.load_verify_locations(OPTIONS.ca)
    if version is not None:
        # Low enough for this client to offer the old protocols at all.
        result.set_ciphers("DEFAULT:@SECLEVEL=0")
        result.minimum_version = version
        result.maximum_version = version
    return result


def request(method, path, headers=None):
    connection = http.client.HTTPSConnection("127.0.0.1", OPTIONS.port, context=context(),
                                             timeout=10)
    try:
        connection.request(method, path, headers=headers or {})
        answer = connection.getresponse()
        return answer.status, {k.lower(): v for k, v in answer.getheaders()}, answer.read()
    finally:
        connection.close()


class SampleConfigurationTest(unittest.TestCase):
    def setUp(self):
        self.release = os.path.join(OPTIONS.state, "release")
        self.manifest = b'{"available": true, "product": "Orvanti"}\n'
        self.installer = bytes(range(256)) * 1000
        self.write("manifest.json", self.manifest)
        self.write("OrvantiSetup.exe", self.installer)
        self.write("notes.txt", b"not for the clients\n")

    def tearDown(self):
        for name in os.listdir(self.release):
            os.unlink(os.path.join(self.release, name))

    def write(self, name, content):
        # As the publisher does: a new file renamed over the old one.
        temporary = os.path.join(self.release, "." + name + ".new")
        with open(temporary, "wb") as out:
            out.write(content)
        os.replace(temporary, os.path.join(self.release, name))

    def test_tls_1_2_and_1_3_only(self):
        versions = {
            ssl.TLSVersion.TLSv1: False,
            ssl.TLSVersion.TLSv1_1: False,
            ssl.TLSVersion.TLSv1_2: True,
            ssl.TLSVersion.TLSv1_3: True,
        }
        for version, accepted in versions.items():
            with self.subTest(version.name):
                connection = http.client.HTTPSConnection("127.0.0.1", OPTIONS.port,
                                                         context=context(version), timeout=10)
                try:
                    if accepted:
                        connection.connect()
                        self.assertEqual(connection.sock.version(), version.name.replace("_", "."))
                    else:
                        with self.assertRaises(ssl.SSLError):
                            connection.connect()
                finally:
                    connection.close()

    def test_the_two_paths_serve_the_two_files_whole_and_revalidated(self):
        for path, content, content_type in ((MANIFEST_PATH, self.manifest, "application/json"),
                                            (DOWNLOAD_PATH, self.installer,
                                             "application/octet-stream")):
            with self.subTest(path):
                status, headers, body = request("GET", path)
                self.assertEqual(status, 200)
                self.assertEqual(body, content)
                self.assertEqual(headers["content-length"], str(len(content)))
                self.assertEqual(headers["content-type"], content_type)
                self.assertEqual(headers["cache-control"], "no-cache, no-transform")
                self.assertIn("etag", headers)
                self.assertNotIn("content-encoding", headers)
                # No partial answers.
                status, _, body = request("GET", path, {"Range": "bytes=0-3"})
                self.assertEqual((status, body), (200, content))
                status, headers, body = request("HEAD", path)
                self.assertEqual((status, body), (200, b""))
                self.assertEqual(headers["content-length"], str(len(content)))

    def test_a_replaced_manifest_is_served_from_the_next_request_on(self):
        self.assertEqual(request("GET", MANIFEST_PATH)[2], self.manifest)
        self.write("manifest.json", b'{"latestVersion": "2.0.0.0"}\n')
        self.assertEqual(request("GET", MANIFEST_PATH)[2], b'{"latestVersion": "2.0.0.0"}\n')

    def test_nothing_else_is_served_and_nothing_redirected(self):
        for path in ("/", "/tov/", "/tov/v2/client/client-updates/", MANIFEST_PATH + "/",
                     DOWNLOAD_PATH + "/", MANIFEST_PATH + "/notes.txt", "/notes.txt",
                     "/manifest.json", "/OrvantiSetup.exe", MANIFEST_PATH + "/manifest.json",
                     "/tov/v2/client/client-updates/Orvanti", DOWNLOAD_PATH + ".exe",
                     DOWNLOAD_PATH + "/../../../../../../etc/passwd",
                     MANIFEST_PATH + "/%2e%2e/%2e%2e/notes.txt", "/release/", "/nginx.conf"):
            with self.subTest(path):
                status, headers, body = request("GET", path)
                self.assertEqual(status, 404)
                self.assertNotIn("location", headers)
                self.assertNotIn(b"not for the clients", body)
                self.assertNotIn(b"Index of", body)

    def test_get_and_head_only(self):
        for method in ("POST", "PUT", "DELETE", "OPTIONS", "PATCH", "TRACE"):
            for path in (MANIFEST_PATH, DOWNLOAD_PATH):
                with self.subTest(method=method, path=path):
                    status, headers, _ = request(method, path)
                    self.assertEqual(status, 405)
                    self.assertNotIn("location", headers)
        with open(os.path.join(self.release, "manifest.json"), "rb") as source:
            self.assertEqual(source.read(), self.manifest)


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--state", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--ca", required=True)
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
