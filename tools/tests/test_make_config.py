"""tools/nginx/make-config: the sample server block filled in, and values that nginx would read
otherwise than meant refused."""

import os
import subprocess
import sys
import tempfile
import unittest

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAKE_CONFIG = os.path.join(TOOLS, "nginx", "make-config")


def make_config(**values):
    arguments = {"listen": "127.0.0.1:8443", "server_name": "updates.example.test",
                 "certificate": "/etc/ssl/orvanti/fullchain.pem", "key": "/etc/ssl/orvanti/key.pem",
                 "release_dir": "/srv/orvanti/release"}
    arguments.update(values)
    command = [sys.executable, MAKE_CONFIG]
    for name, value in arguments.items():
        command += ["--" + name.replace("_", "-"), value]
    return subprocess.run(command, capture_output=True, text=True)


class MakeConfigTest(unittest.TestCase):
    def test_fills_in_every_value(self):
        result = make_config(release_dir="/srv/orvanti/release folder/")
        self.assertEqual(result.returncode, 0, result.stderr)
        text = result.stdout
        self.assertIn("listen 127.0.0.1:8443 ssl;", text)
        self.assertIn("server_name updates.example.test;", text)
        self.assertIn('ssl_certificate "/etc/ssl/orvanti/fullchain.pem";', text)
        self.assertIn('ssl_certificate_key "/etc/ssl/orvanti/key.pem";', text)
        self.assertIn('alias "/srv/orvanti/release folder/manifest.json";', text)
        self.assertIn('alias "/srv/orvanti/release folder/OrvantiSetup.exe";', text)
        self.assertNotIn("@", text.replace("@SECLEVEL", ""))

    def test_writes_the_file_whole(self):
        with tempfile.TemporaryDirectory() as folder:
            out = os.path.join(folder, "orvanti.conf")
            with open(out, "w") as previous:
                previous.write("previous")
            command = [sys.executable, MAKE_CONFIG, "--listen", "443", "--server-name", "a.test",
                       "--certificate", "/c.pem", "--key", "/k.pem", "--release-dir", "/r",
                       "--out", out]
            self.assertEqual(subprocess.run(command).returncode, 0)
            with open(out) as written:
                self.assertIn('alias "/r/manifest.json";', written.read())
            self.assertEqual(os.listdir(folder), ["orvanti.conf"])

    def test_refuses_values_nginx_would_read_otherwise(self):
        cases = {
            "a variable in a path": {"release_dir": "/srv/$host/release"},
            "a quote in a path": {"key": '/etc/ssl/k"ey.pem'},
            "the end of a directive in a path": {"certificate": "/etc/ssl/a;b.pem"},
            "a new line in a path": {"release_dir": "/srv/orvanti\nrelease"},
            "a relative path": {"release_dir": "release"},
            "a listen with a word": {"listen": "443 default_server"},
            "a port out of range": {"listen": "70000"},
            "a server name with a blank": {"server_name": "a.test b.test"},
        }
        for name, values in cases.items():
            with self.subTest(name):
                result = make_config(**values)
                self.assertEqual(result.returncode, 2, result.stdout)
                self.assertEqual(result.stdout, "")


if __name__ == "__main__":
    unittest.main()
