"""tools/sign-programs with the test PKI: it signs each shipped program that the build made,
and only those, with the certificate given."""

import os
import shutil
import subprocess
import tempfile
import unittest

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FIXTURES = os.environ.get("ORVANTI_TOOL_FIXTURES", "")
PKI = os.environ.get("ORVANTI_TEST_PKI_DIR", "")


def signer_of(path):
    """The subject of the file's signer as osslsigncode reads it, or None when it is unsigned."""
    result = subprocess.run(["osslsigncode", "extract-signature", "-pem", "-in", path,
                             "-out", path + ".p7.pem"], capture_output=True, text=True)
    if result.returncode != 0:
        return None
    certificates = subprocess.run(["openssl", "pkcs7", "-in", path + ".p7.pem", "-print_certs",
                                   "-noout"], capture_output=True, text=True, check=True).stdout
    os.unlink(path + ".p7.pem")
    return certificates


@unittest.skipUnless(os.path.isdir(FIXTURES) and os.path.isdir(PKI),
                     "ORVANTI_TOOL_FIXTURES and ORVANTI_TEST_PKI_DIR are set by the build")
class SignProgramsTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.bin = os.path.join(self.folder.name, "bin")
        self.out = os.path.join(self.folder.name, "signed")
        os.makedirs(self.bin)

    def tearDown(self):
        self.folder.cleanup()

    def program(self, name):
        # Any unsigned executable stands in for the build's programs.
        shutil.copy(os.path.join(FIXTURES, "good.exe"), os.path.join(self.bin, name))

    def sign(self, *extra):
        return subprocess.run(
            [os.path.join(TOOLS, "sign-programs"), "--certs",
             os.path.join(PKI, "publisher-chain.pem"), "--key", os.path.join(PKI, "publisher.key"),
             *extra, self.bin], capture_output=True, text=True)

    def test_signs_both_programs_when_the_build_made_both(self):
        self.program("OrvantiDownloader.exe")
        self.program("OrvantiVerify.exe")
        result = self.sign("--out", self.out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(self.out)), ["OrvantiDownloader.exe", "OrvantiVerify.exe"])
        for name in ("OrvantiDownloader.exe", "OrvantiVerify.exe"):
            with self.subTest(name):
                self.assertIn("CN = Zarn Test Publisher", signer_of(os.path.join(self.out, name)) or "")
                self.assertIsNone(signer_of(os.path.join(self.bin, name)), "the input was changed")

    def test_signs_the_downloader_alone_in_place(self):
        self.program("OrvantiDownloader.exe")
        result = self.sign()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(os.listdir(self.bin), ["OrvantiDownloader.exe"])
        self.assertIn("CN = Zarn Test Publisher",
                      signer_of(os.path.join(self.bin, "OrvantiDownloader.exe")) or "")

    def test_refuses_a_folder_without_the_downloader(self):
        self.program("OrvantiVerify.exe")
        result = self.sign("--out", self.out)
        self.assertEqual(result.returncode, 1)
        self.assertIn("OrvantiDownloader.exe is missing", result.stderr)
        self.assertIsNone(signer_of(os.path.join(self.bin, "OrvantiVerify.exe")))


if __name__ == "__main__":
    unittest.main()
