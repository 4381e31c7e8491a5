#!/usr/bin/env python3
"""Publishes an installer into a release folder for the update service.

  publish_release.py INSTALLER RELEASE_DIR --verify-with PATH
  publish_release.py INSTALLER RELEASE_DIR --no-verify

Copies the installer to RELEASE_DIR/OrvantiSetup.exe and writes RELEASE_DIR/manifest.json with
the installer's ProductVersion (from its version resource), SHA-256 digest and size. An installer
that the downloader would refuse by the manifest rules or by its version resource is refused here,
with a non-zero exit and a message, before anything in the release folder is touched.

--verify-with PATH names the OrvantiVerify.exe of the build whose clients will fetch the release
(run under Wine with the caller's WINEPREFIX on Linux, directly on Windows). The release is first
staged in a temporary folder and judged there by that tool, which makes every check the clients
make, the Authenticode signature by the pinned publisher included; only when it accepts the
staged release is it published. On refusal the tool's report is printed and the release folder is
left as it was. Without --verify-with the tool refuses to publish unless --no-verify is given, and
then says that the signature was not checked.
"""

import argparse
import hashlib
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

PRODUCT = "Orvanti"
DESCRIPTION = "Orvanti Setup"
DOWNLOAD_PATH = "/tov/v2/client/client-updates/orvanti/download"
INSTALLER_NAME = "OrvantiSetup.exe"
MANIFEST_NAME = "manifest.json"
MAX_SIZE = 268435456

RT_VERSION = 16
VS_VERSION_INFO_ID = 1
RESOURCE_DIRECTORY_INDEX = 2


class Refused(Exception):
    """The installer cannot be published; the text says why."""


# --- PE version resource ---------------------------------------------------------------------


class PeImage:
    """The few parts of a PE file that the version resource needs: sections and the resource
    directory. Reads only what it is asked for."""

    def __init__(self, source):
        self.source = source
        if self.read(0, 2) != b"MZ":
            raise Refused("not a Windows executable (no MZ header)")
        (pe_offset,) = struct.unpack("<I", self.read(0x3C, 4))
        if self.read(pe_offset, 4) != b"PE\0\0":
            raise Refused("not a Windows executable (no PE signature)")
        coff = pe_offset + 4
        _, section_count, _, _, _, optional_size, _ = struct.unpack("<HHIIIHH", self.read(coff, 20))
        optional = coff + 20
        (magic,) = struct.unpack("<H", self.read(optional, 2))
        if magic == 0x10B:
            directories_at = 96
        elif magic == 0x20B:
            directories_at = 112
        else:
            raise Refused("unknown PE optional header (magic 0x%x)" % magic)
        (directory_count,) = struct.unpack("<I", self.read(optional + directories_at - 4, 4))
        self.resource_rva = 0
        if directory_count > RESOURCE_DIRECTORY_INDEX:
            at = optional + directories_at + 8 * RESOURCE_DIRECTORY_INDEX
            self.resource_rva, _ = struct.unpack("<II", self.read(at, 8))
        self.sections = []
        table = optional + optional_size
        for index in range(section_count):
            header = self.read(table + 40 * index, 40)
            virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack("<IIII", header[8:24])
            self.sections.append((virtual_address, max(virtual_size, raw_size), raw_pointer, raw_size))

    def read(self, offset, count):
        self.source.seek(offset)
        data = self.source.read(count)
        if len(data) != count:
            raise Refused("truncated Windows executable")
        return data

    def read_rva(self, rva, count):
        for virtual_address, span, raw_pointer, raw_size in self.sections:
            if virtual_address <= rva and rva + count <= virtual_address + span:
                inside = rva - virtual_address
                if inside + count > raw_size:
                    raise Refused("version resource lies outside the file's data")
                return self.read(raw_pointer + inside, count)
        raise Refused("version resource lies outside every section")

    def resource_entries(self, directory_offset):
        """(id or None for a named entry, offset, is_directory) of one resource directory."""
        header = self.read_rva(self.resource_rva + directory_offset, 16)
        named, ids = struct.unpack("<HH", header[12:16])
        entries = []
        for index in range(named + ids):
            name, target = struct.unpack(
                "<II", self.read_rva(self.resource_rva + directory_offset + 16 + 8 * index, 8))
            identifier = None if name & 0x80000000 else name
            entries.append((identifier, target & 0x7FFFFFFF, bool(target & 0x80000000)))
        return entries

    def version_resource(self):
        if self.resource_rva == 0:
            raise Refused("the installer has no resources (no version resource)")
        types = [e for e in self.resource_entries(0) if e[0] == RT_VERSION and e[2]]
        if not types:
            raise Refused("the installer has no version resource")
        names = [e for e in self.resource_entries(types[0][1]) if e[2]]
        # The loader asks for VS_VERSION_INFO (1); take it when present, else the first entry.
        names.sort(key=lambda e: e[0] != VS_VERSION_INFO_ID)
        if not names:
            raise Refused("the installer's version resource is empty")
        languages = [e for e in self.resource_entries(names[0][1]) if not e[2]]
        if not languages:
            raise Refused("the installer's version resource is empty")
        data_rva, size = struct.unpack("<II", self.read_rva(self.resource_rva + languages[0][1], 8))
        return self.read_rva(data_rva, size)


def align4(offset):
    return (offset + 3) & ~3


def parse_block(data, offset):
    """One version-information block: (key, value bytes, value type, children, end offset)."""
    if offset + 6 > len(data):
        raise Refused("malformed version resource")
    length, value_length, value_type = struct.unpack("<HHH", data[offset:offset + 6])
    end = offset + length
    if length < 6 or end > len(data):
        raise Refused("malformed version resource")
    key_end = offset + 6
    while key_end + 1 < end and data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[offset + 6:key_end].decode("utf-16-le", errors="replace")
    value_start = align4(key_end + 2)
    if value_type == 1 and value_length:
        # A text value (a leaf): the count is in characters (with the terminator, from the
        # resource compiler used here); like the platform, never take more than it says.
        value = data[value_start:min(end, value_start + 2 * value_length)]
        children_start = end
    else:
        value = data[value_start:value_start + value_length]
        children_start = align4(value_start + value_length)
    children = []
    child = children_start
    while child + 6 <= end:
        block = parse_block(data, child)
        children.append(block)
        child = align4(block[4])
    return key, value, value_type, children, end


def version_strings(data):
    """The string values of the table that the first translation entry names: the table that
    the downloader reads. Keys are matched without case, as the platform does."""
    key, _, _, children, _ = parse_block(data, 0)
    if key != "VS_VERSION_INFO":
        raise Refused("malformed version resource (no VS_VERSION_INFO)")
    translation = None
    tables = {}
    for child_key, _, _, grandchildren, _ in children:
        if child_key.lower() == "varfileinfo":
            for var_key, var_value, _, _, _ in grandchildren:
                if var_key.lower() == "translation" and len(var_value) >= 4 and translation is None:
                    language, code_page = struct.unpack("<HH", var_value[:4])
                    translation = "%04x%04x" % (language, code_page)
        elif child_key.lower() == "stringfileinfo":
            for table_key, _, _, strings, _ in grandchildren:
                values = {}
                for name, value, _, _, _ in strings:
                    text = value.decode("utf-16-le", errors="replace").split("\0", 1)[0]
                    values.setdefault(name.lower(), text)
                tables.setdefault(table_key.lower(), values)
    if translation is None:
        raise Refused("the version resource has no translation table")
    return tables.get(translation, {})


def read_version_strings(path):
    with open(path, "rb") as source:
        return version_strings(PeImage(source).version_resource())


def version_value(strings, name):
    # The downloader drops white space at the end of a value before it compares.
    return strings.get(name.lower(), "").rstrip()


# --- manifest rules --------------------------------------------------------------------------


def is_valid_version(text):
    """1 to 4 groups of 1 to 5 ASCII digits, each at most 65535, joined by single dots."""
    groups = text.split(".")
    if not 1 <= len(groups) <= 4:
        return False
    for group in groups:
        if not 1 <= len(group) <= 5 or any(c not in "0123456789" for c in group):
            return False
        if int(group) > 65535:
            return False
    return True


def check_installer(path):
    """Returns the version text to publish, or raises Refused."""
    if not os.path.isfile(path):
        raise Refused("installer not found: %s" % path)
    size = os.path.getsize(path)
    if size == 0:
        raise Refused("the installer is empty (size 0)")
    if size > MAX_SIZE:
        raise Refused("the installer has %d bytes; at most %d are accepted" % (size, MAX_SIZE))
    strings = read_version_strings(path)
    product = version_value(strings, "ProductName")
    if product != PRODUCT:
        raise Refused("ProductName is %r, not %r" % (product, PRODUCT))
    description = version_value(strings, "FileDescription")
    if description != DESCRIPTION:
        raise Refused("FileDescription is %r, not %r" % (description, DESCRIPTION))
    version = version_value(strings, "ProductVersion")
    if version.count(".") != 3 or not is_valid_version(version):
        raise Refused("ProductVersion %r is not a four-part version (four groups of digits, each "
                      "at most 65535, joined by three dots)" % version)
    return version


# --- publishing ------------------------------------------------------------------------------


def copy_to_temporary(source_path, folder):
    """Copies the installer into a temporary file in the release folder and hashes the bytes as
    they are copied, so the digest and size describe exactly the file that will be published."""
    digest = hashlib.sha256()
    size = 0
    handle, temporary = tempfile.mkstemp(prefix=".publish-", dir=folder)
    try:
        with os.fdopen(handle, "wb") as target, open(source_path, "rb") as source:
            while True:
                block = source.read(1 << 20)
                if not block:
                    break
                digest.update(block)
                target.write(block)
                size += len(block)
        os.chmod(temporary, 0o644)
    except BaseException:
        os.unlink(temporary)
        raise
    return temporary, digest.hexdigest(), size


def write_manifest(path, manifest):
    folder = os.path.dirname(path)
    handle, temporary = tempfile.mkstemp(prefix=".manifest-", dir=folder)
    try:
        with os.fdopen(handle, "w", encoding="utf-8") as out:
            json.dump(manifest, out, indent=2, ensure_ascii=False)
            out.write("\n")
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def manifest_for(version, digest, size):
    return {
        "available": True,
        "product": PRODUCT,
        "latestVersion": version,
        "sha256": digest,
        "sizeBytes": size,
        "downloadPath": DOWNLOAD_PATH,
    }


def place_release(installer, release_dir, expected=None):
    """Copies the installer into the release folder, checks the copy, replaces the published
    installer with it and writes its manifest. With `expected` (a manifest), the copy must be
    described by it exactly, or nothing is replaced."""
    os.makedirs(release_dir, exist_ok=True)
    temporary, digest, size = copy_to_temporary(installer, release_dir)
    try:
        # The copy is checked again: the source may have changed after the first check. Only a
        # copy that passes replaces the published installer.
        version = check_installer(temporary)
        manifest = manifest_for(version, digest, size)
        if expected is not None and manifest != expected:
            raise Refused("the installer changed after it was verified")
        os.replace(temporary, os.path.join(release_dir, INSTALLER_NAME))
    except BaseException:
        os.unlink(temporary)
        raise
    write_manifest(os.path.join(release_dir, MANIFEST_NAME), manifest)
    return manifest


def windows_path(path):
    """The path as a program under Wine sees it (drive Z: is the Linux root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_verify_tool(tool, release_dir):
    """Runs OrvantiVerify.exe on a release folder: (exit code, its report as text)."""
    if os.name == "nt":
        command = [tool, release_dir]
    else:
        command = ["wine", tool, windows_path(release_dir)]
    # The report goes to a file, not a pipe: Wine's helper processes inherit the standard handles
    # of the first Wine process and would keep a pipe open after the tool has ended.
    with tempfile.TemporaryFile() as output, tempfile.TemporaryFile() as errors:
        try:
            code = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=output,
                                  stderr=errors).returncode
        except OSError as failure:
            raise Refused("cannot run the verification tool %s: %s" % (tool, failure))
        output.seek(0)
        errors.seek(0)
        report = output.read().decode("utf-8", errors="replace").replace("\r\n", "\n")
        if os.name != "nt":
            # Under Wine the prefix's trusted roots take part in the trust check.
            report += "judged under Wine in the prefix %s\n" % os.environ.get(
                "WINEPREFIX", os.path.expanduser("~/.wine"))
        if code not in (0, 1):
            # Not a verdict: a usage error (2) or a tool that could not run.
            report += errors.read().decode("utf-8", errors="replace")
    return code, report


def publish(installer, release_dir, verify_with=None):
    """Publishes the installer; with `verify_with` (the path of OrvantiVerify.exe) only when that
    tool accepts the staged release. Returns the manifest and the tool's report (or None)."""
    check_installer(installer)
    if verify_with is None:
        return place_release(installer, release_dir), None
    staging = tempfile.mkdtemp(prefix="orvanti-release-")
    try:
        staged = place_release(installer, staging)
        code, report = run_verify_tool(verify_with, staging)
        if code != 0:
            raise Refused("OrvantiVerify.exe refuses the release (exit code %d); the release "
                          "folder was not touched:\n%s" % (code, report.rstrip("\n")))
        manifest = place_release(os.path.join(staging, INSTALLER_NAME), release_dir, staged)
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    return manifest, report


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="publish_release.py",
        description="Publish an installer into a release folder for the update service.")
    parser.add_argument("installer", help="the signed installer")
    parser.add_argument("release_dir", help="the folder the update service serves")
    check = parser.add_mutually_exclusive_group()
    check.add_argument("--verify-with", metavar="PATH",
                       help="OrvantiVerify.exe of the build whose clients fetch the release: "
                            "publish only what it accepts")
    check.add_argument("--no-verify", action="store_true",
                       help="publish without the clients' checks (the signature is not checked)")
    return parser.parse_args(argv)


def main(argv=None):
    arguments = parse_arguments(sys.argv[1:] if argv is None else argv)
    if arguments.verify_with is None and not arguments.no_verify:
        sys.stderr.write(
            "publish_release: refused: the release is not verified: give --verify-with PATH "
            "(the OrvantiVerify.exe of the build whose clients fetch it), or --no-verify to "
            "publish without checking the signature\n")
        return 2
    try:
        manifest, report = publish(arguments.installer, arguments.release_dir,
                                   arguments.verify_with)
    except Refused as refusal:
        sys.stderr.write("publish_release: refused: %s\n" % refusal)
        return 1
    except OSError as failure:
        sys.stderr.write("publish_release: %s\n" % failure)
        return 1
    if report is not None:
        sys.stdout.write(report)
    print("published %s %s (%d bytes, sha256 %s)" % (
        PRODUCT, manifest["latestVersion"], manifest["sizeBytes"], manifest["sha256"]))
    if report is None:
        print("publish_release: the Authenticode signature was not checked (--no-verify): "
              "clients refuse the release unless it is signed by their pinned publisher")
    return 0


if __name__ == "__main__":
    sys.exit(main())
