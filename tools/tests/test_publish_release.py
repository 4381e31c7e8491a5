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
# The build's signed fixture programs, its OrvantiVerify.exe and the test PKI's thumbprints; the
# build's ctest also gives the Wine prefix in which the test root is trusted (WINEPREFIX).
SIGNED_FIXTURES = os.environ.get("ORVANTI_SIGNED_FIXTURES", "")
VERIFY_TOOL = os.environ.get("ORVANTI_VERIFY_TOOL", "")
OTHER_THUMBPRINT = os.environ.get("ORVANTI_TEST_OTHER_THUMBPRINT", "")
UNTRUSTED_THUMBPRINT = os.environ.get("ORVANTI_TEST_UNTRUSTED_THUMBPRINT", "")

SIGNATURE_MESSAGE = "インストーラの発行元署名を確認できません。"


def fixture(name):
    return os.path.join(FIXTURES, name + ".exe")


def signed_fixture(name):
    return os.path.join(SIGNED_FIXTURES, name + ".exe")


def run_publisher(installer, release, *options):
    return subprocess.run([sys.executable, os.path.join(TOOLS, "publish_release.py"),
                           installer, release, *options],
                          capture_output=True, text=True, encoding="utf-8")


def folder_content(folder):
    """Every file of a folder with its bytes and modification time."""
    content = {}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        with open(path, "rb") as source:
            content[name] = (source.read(), os.stat(path).st_mtime_ns)
    return content


class ReleaseFolderTest(unittest.TestCase):
    """A temporary folder; the release folder in it does not exist at first."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.release = os.path.join(self.folder.name, "release")

    def tearDown(self):
        self.folder.cleanup()


@unittest.skipUnless(os.path.isdir(FIXTURES), "ORVANTI_TOOL_FIXTURES is not set by the build")
class PublishTest(ReleaseFolderTest):
    def run_tool(self, installer, *options):
        # These fixtures are unsigned: the version-resource checks are tested without the tool.
        return run_publisher(installer, self.release, *(options or ("--no-verify",)))

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


@unittest.skipUnless(os.path.isdir(FIXTURES), "ORVANTI_TOOL_FIXTURES is not set by the build")
class VerificationChoiceTest(ReleaseFolderTest):
    def test_without_a_choice_nothing_is_published(self):
        result = run_publisher(fixture("good"), self.release)
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn("--verify-with", result.stderr)
        self.assertIn("--no-verify", result.stderr)
        self.assertFalse(os.path.exists(self.release))

    def test_no_verify_says_that_the_signature_was_not_checked(self):
        result = run_publisher(fixture("good"), self.release, "--no-verify")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("signature was not checked", result.stdout)
        self.assertEqual(sorted(os.listdir(self.release)), ["OrvantiSetup.exe", "manifest.json"])

    def test_both_choices_at_once_are_a_usage_error(self):
        result = run_publisher(fixture("good"), self.release, "--no-verify",
                               "--verify-with", "OrvantiVerify.exe")
        self.assertEqual(result.returncode, 2)
        self.assertFalse(os.path.exists(self.release))


@unittest.skipUnless(os.path.isfile(VERIFY_TOOL) and os.path.isdir(SIGNED_FIXTURES),
                     "ORVANTI_VERIFY_TOOL and ORVANTI_SIGNED_FIXTURES are not set by the build")
class VerifiedPublishTest(ReleaseFolderTest):
    """Under Wine with the build's prefix (WINEPREFIX), where the test root is trusted."""
    def publish(self, name):
        return run_publisher(signed_fixture(name), self.release, "--verify-with", VERIFY_TOOL)

    def staging_folders(self):
        return {name for name in os.listdir(tempfile.gettempdir())
                if name.startswith("orvanti-release-")}

    def test_the_sample_release_is_published(self):
        result = self.publish("sample-setup-1.0.0.0")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("verdict: accepted", result.stdout)
        self.assertIn("published Orvanti 1.0.0.0", result.stdout)
        self.assertNotIn("not checked", result.stdout)
        with open(os.path.join(self.release, "OrvantiSetup.exe"), "rb") as source:
            content = source.read()
        with open(signed_fixture("sample-setup-1.0.0.0"), "rb") as source:
            self.assertEqual(content, source.read())
        with open(os.path.join(self.release, "manifest.json"), encoding="utf-8") as source:
            manifest = json.load(source)
        self.assertEqual(manifest["sha256"], hashlib.sha256(content).hexdigest())
        self.assertEqual(manifest["latestVersion"], "1.0.0.0")

    def test_what_the_clients_refuse_is_not_published(self):
        # A published release that each refused one must leave exactly as it was.
        first = self.publish("sample-setup-1.0.0.0")
        self.assertEqual(first.returncode, 0, first.stdout + first.stderr)
        before = folder_content(self.release)
        staging_before = self.staging_folders()
        cases = {
            "installer-other-signer": "found signer %s" % OTHER_THUMBPRINT,
            "installer-untrusted": "WinVerifyTrust 0x800B0109, embedded signer %s"
                                   % UNTRUSTED_THUMBPRINT,
            "installer-unsigned": "WinVerifyTrust 0x800B0100, no embedded signer",
            "installer-tampered": "WinVerifyTrust 0x80096010",
        }
        for name, finding in cases.items():
            with self.subTest(name):
                result = self.publish(name)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertNotIn("published", result.stdout)
                lines = result.stderr.splitlines()
                signature = [line for line in lines if line.startswith("FAIL signature: ")]
                self.assertEqual(len(signature), 1, result.stderr)
                self.assertIn(finding, signature[0])
                self.assertIn("the client refuses with: %s (" % SIGNATURE_MESSAGE, signature[0])
                self.assertIn("verdict: refused: %s (" % SIGNATURE_MESSAGE, result.stderr)
                self.assertEqual(folder_content(self.release), before)
        self.assertEqual(self.staging_folders(), staging_before)

    def test_a_release_folder_that_does_not_exist_is_not_made_on_refusal(self):
        result = self.publish("installer-other-signer")
        self.assertEqual(result.returncode, 1)
        self.assertFalse(os.path.exists(self.release))


if __name__ == "__main__":
    unittest.main()
