"""The publisher tool against real executables built with version resources (tool-fixtures)."""

import hashlib
import json
import os
import subprocess
import sys
import tempfile
import unittest

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, TOOLS)

import publish_release  # noqa: E402

FIXTURES = os.environ.get("ORVANTI_TOOL_FIXTURES", "")


def fixture(name):
    return os.path.join(FIXTURES, name + ".exe")


@unittest.skipUnless(os.path.isdir(FIXTURES), "ORVANTI_TOOL_FIXTURES is not set by the build")
class PublishTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.release = os.path.join(self.folder.name, "release")

    def tearDown(self):
        self.folder.cleanup()

    def run_tool(self, installer):
        return subprocess.run([sys.executable, os.path.join(TOOLS, "publish_release.py"),
                               installer, self.release], capture_output=True, text=True)

    def test_manifest_describes_the_copied_installer_exactly(self):
        result = self.run_tool(fixture("good"))
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.release, "manifest.json"), encoding="utf-8") as source:
            manifest = json.load(source)
        with open(os.path.join(self.release, "OrvantiSetup.exe"), "rb") as source:
            content = source.read()
        with open(fixture("good"), "rb") as source:
            self.assertEqual(content, source.read())
        self.assertEqual(manifest, {
            "available": True,
            "product": "Orvanti",
            "latestVersion": "1.2.3.4",
            "sha256": hashlib.sha256(content).hexdigest(),
            "sizeBytes": len(content),
            "downloadPath": "/tov/v2/client/client-updates/orvanti/download",
        })
        self.assertEqual(sorted(os.listdir(self.release)), ["OrvantiSetup.exe", "manifest.json"])

    def test_versions_as_the_downloader_reads_them(self):
        # A trailing blank is dropped before comparing, as the downloader does; leading zeros
        # and the largest groups are valid.
        for name, version in (("trailing-blank", "2.0.0.1"), ("largest", "65535.0.00007.65535")):
            with self.subTest(name):
                self.assertEqual(publish_release.check_installer(fixture(name)), version)

    def test_refuses_what_the_downloader_would_refuse_and_touches_nothing(self):
        os.makedirs(self.release)
        with open(os.path.join(self.release, "manifest.json"), "w") as out:
            out.write("previous")
        cases = {
            "three-part": "ProductVersion",
            "five-part": "ProductVersion",
            "group-too-big": "ProductVersion",
            "group-too-long": "ProductVersion",
            "letter": "ProductVersion",
            "empty-group": "ProductVersion",
            "wrong-product": "ProductName",
            "wrong-description": "FileDescription",
            "other-table": "ProductName",
        }
        for name, reason in cases.items():
            with self.subTest(name):
                result = self.run_tool(fixture(name))
                self.assertEqual(result.returncode, 1)
                self.assertIn("refused", result.stderr)
                self.assertIn(reason, result.stderr)
        self.assertEqual(sorted(os.listdir(self.release)), ["manifest.json"])
        with open(os.path.join(self.release, "manifest.json")) as source:
            self.assertEqual(source.read(), "previous")

    def test_refuses_files_that_are_no_installer(self):
        empty = os.path.join(self.folder.name, "empty.exe")
        open(empty, "wb").close()
        text = os.path.join(self.folder.name, "text.exe")
        with open(text, "wb") as out:
            out.write(b"MZ not really")
        for path in (empty, text, os.path.join(self.folder.name, "missing.exe")):
            with self.subTest(os.path.basename(path)):
                result = self.run_tool(path)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertFalse(os.path.exists(self.release))


if __name__ == "__main__":
    unittest.main()
