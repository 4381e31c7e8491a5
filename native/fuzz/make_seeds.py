#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora (native/fuzz/corpus/<target>/) from the cases of the unit
test tables, in each target's input format. Run it again after changing a table; the files are
kept in the repository."""
import json
import pathlib
import re
import shutil
import struct

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    name = re.sub(r"[^A-Za-z0-9._-]+", "-", name).strip("-") or "empty"
    (folder / name).write_bytes(data)


def utf16(text):
    return text.encode("utf-16-le", "surrogatepass")


def fdp_text(text):
    """A text as FuzzedDataProvider.ConsumeRandomLengthString reads it: backslashes doubled,
    ended by a backslash and one other byte."""
    return text.replace(b"\\", b"\\\\") + b"\\ "


# tests/common/version_test.cpp
valid_versions = ["1.2.3.4", "1", "1.2", "1.2.3", "0.0.0.0", "65535.65535.65535.65535", "00001",
                  "007.0.12345.00000", "10.20.30.40"]
invalid_versions = ["", ".", "1.", ".1", "1..2", "1.2.3.4.5", "1.2.3.4.", " 1.2", "1.2 ", "1. 2",
                    "+1", "-1", "1.a", "1,2", "0x10", "65536", "1.2.3.65536", "99999", "000001",
                    "123456", "4294967297", "1.2.3.18446744073709551617", "\uff11", "1\0", "1.\0"]
orderings = [("2.0", "1.9.9.9"), ("1.10", "1.9"), ("1.2", "1.2.0.0"), ("0.0.0.0", "0.0.0.0"),
             ("1.0.0.1", "1"), ("1.2.3.5", "1.2.3.4"), ("1.2.4.0", "1.2.3.65535"),
             ("2.0.0.0", "1.65535.65535.65535"), ("010", "9")]
for i, text in enumerate(valid_versions):
    write("version", f"valid-{i}-{text}", text.encode())
for i, text in enumerate(invalid_versions):
    write("version", f"invalid-{i}", text.encode())
for i, (a, b) in enumerate(orderings):
    write("version", f"order-{i}", f"{a}\n{b}\n1.2.3.4".encode())

# tests/update/release_info_test.cpp
digest = "0123456789abcdef" + "a" * 48
base = ('{"available": true, "product": "Orvanti", "latestVersion": "0.0.0.0", "sha256": "'
        + digest + '", "sizeBytes": 1, '
        '"downloadPath": "/tov/v2/client/client-updates/orvanti/download"}')
path = "/tov/v2/client/client-updates/orvanti/download"
changes = {
    "Baseline": {}, "LargestSize": {"sizeBytes": "268435456"},
    "UpperCaseDigest": {"sha256": json.dumps("0123456789ABCDEF" + "F" * 48)},
    "HighestVersion": {"latestVersion": '"65535.65535.65535.65535"'},
    "VersionWithLeadingZeros": {"latestVersion": '"01.002.0003.00004"'},
    "UnknownKeysIgnored": {"notes": '{"text": "x"}', "Available": "false"},
    "AvailableFalse": {"available": "false"}, "AvailableMissing": {"available": None},
    "AvailableString": {"available": '"true"'}, "AvailableNumber": {"available": "1"},
    "ProductOtherCase": {"product": '"orvanti"'}, "ProductNotAString": {"product": "7"},
    "VersionTwoDots": {"latestVersion": '"1.2.3"'}, "VersionLetter": {"latestVersion": '"1.2.3.x"'},
    "VersionSixDigitPart": {"latestVersion": '"1.2.3.000001"'},
    "Digest63Digits": {"sha256": json.dumps(digest[1:])},
    "DigestWithLetterG": {"sha256": json.dumps("g" + digest[1:])},
    "SizeWithFraction": {"sizeBytes": "1024.0"}, "SizeWithExponent": {"sizeBytes": "1e3"},
    "SizeAsString": {"sizeBytes": '"1024"'}, "SizeZero": {"sizeBytes": "0"},
    "SizeNegative": {"sizeBytes": "-1"}, "SizeOneAboveLimit": {"sizeBytes": "268435457"},
    "SizeAboveSigned64": {"sizeBytes": "9223372036854775808"},
    "SizeLargestUnsigned64": {"sizeBytes": "18446744073709551615"},
    "PathTrailingSlash": {"downloadPath": json.dumps(path + "/")},
    "PathWithQuery": {"downloadPath": json.dumps(path + "?x=1")},
}
for name, change in changes.items():
    manifest = json.loads(base)
    for key, text in change.items():
        if text is None:
            manifest.pop(key, None)
        else:
            manifest[key] = "@@%s@@" % key
    body = json.dumps(manifest, ensure_ascii=False)
    for key, text in change.items():
        if text is not None:
            body = body.replace('"@@%s@@"' % key, text)
    write("manifest", name, body.encode())
for i, text in enumerate(['[{"available": true}]', '"available"', "1", "true", "null", "{} {}",
                          "/* c */ {}", '{"sizeBytes": 1e999}']):
    write("manifest", f"other-{i}", text.encode())

# tests/update/url_policy_test.cpp
SEP = b"\xff\xff"
hosts = [(2, "updates.example.com"), (2, "LOCALHOST"), (1, "127.0.0.1"), (1, "localhost"),
         (1, "LOCALHOST"), (1, "localhost."), (1, "127.0.0.2"), (1, "[::1]"), (1, ""),
         (0, "127.0.0.1")]
for i, (scheme, host) in enumerate(hosts):
    write("url_policy", f"host-{i}-{host}", bytes([scheme, 0, 0]) + utf16(host) + SEP + utf16("/a/b"))
for i, (path, query) in enumerate([("", ""), ("/a/b", ""), ("/a/b", "?x=1&y=2"), ("", "?x=1")]):
    write("url_policy", f"object-{i}",
          bytes([2, 4, 6]) + utf16("localhost") + SEP + utf16(path) + SEP + utf16(query))

# tests/update/transfer_rules_test.cpp
for i, text in enumerate(["0", "268435456", "  42", "42abc", "18446744073709551615", "", "abc",
                          " x1", "+", "18446744073709551616", "99999999999999999999999", "+4",
                          "-1", " -18446744073709551615", "\t+0", "-"]):
    write("content_length", f"case-{i}", utf16(text))

# tests/storage/event_record_test.cpp: event, then key and value texts, then the time stamp.
records = [
    ("downloader_gui_open_requested", [], 1765432100123),
    ("downloader_failed", [("message", "sx"), ("exitCode", "i\x01")], 0),
    ("downloader_started", [("event", "sforged"), ("utcMs", "i\x05"), ("zeta", "b1")], 7),
    ("downloader_failed", [("message", "sダウンロードを中止しました。")], 7),
    ("downloader_failed", [("message", "sa\nb\r\"\\\x01\x7f")], 7),
    ("e", [("n", "u\xff\xff"), ("list", "aonetwo"), ("nested", "okeyvalue"), ("x", "n")], -1),
]
bad = [("downloader_failed", [("message", b"sbad \xff byte")]),
       ("downloader_failed", [(b"bad\xc3", b"i\x01")]),
       ("downloader_failed", [("list", b"aok\xed\xa0\x80")]),
       (b"downloader_\xe3\x81", [])]
def record(event, fields, utc):
    raw = lambda t: t if isinstance(t, bytes) else t.encode()
    data = fdp_text(raw(event))
    for key, value in fields:
        data += fdp_text(raw(key)) + fdp_text(raw(value))
    return data + struct.pack("<q", utc)
for i, (event, fields, utc) in enumerate(records):
    write("event_record", f"record-{i}", record(event, fields, utc))
for i, (event, fields) in enumerate(bad):
    write("event_record", f"invalid-utf8-{i}", record(event, fields, 1))

# tests/install/argument_quoting_cases.h
for i, text in enumerate(["", "setup.exe", r"C:\Users\A B\AppData\Local\Temp\orvanti-1\Orvanti Setup.exe",
                          "C:\\dir\\", "C:\\dir\\\\", 'say "hi"', 'a\\"b', 'a\\\\"b', '"', "\\",
                          "a\tb  c ", r"\\server\share\x", "C:\\オルバンティ\\set up.exe"]):
    write("argument_quoting", f"case-{i}", utf16(text))

# tests/ui/window_layout_test.cpp and mul_div_test.cpp
layouts = [(96, (0, 0, 1920, 1040)), (120, (0, 0, 1920, 1040)), (144, (0, 0, 1920, 1040)),
           (96, (0, 40, 1920, 1080)), (96, (-1280, 0, 0, 1024)), (96, (0, 0, 400, 101)),
           (96, (0, 0, 0, 0)), (96, (0, 1694498816, 144, -637534207)),
           (96, (-2**31, -2**31, 2**31 - 1, 2**31 - 1)), (72, (0, 0, 1024, 768))]
muldivs = [(587, 120, 96), (-9, 72, -7), (2147483647, 2147483647, 2), (-2147483647, 1, -1),
           (1000001, 192, 7), (26, 96, 0), (470, -120, 96), (172, 144, 96), (9, 168, 72),
           (-2**31 + 1, -120, 7)]
for i, ((dpi, rect), operands) in enumerate(zip(layouts, muldivs)):
    write("window_layout", f"case-{i}", struct.pack("<8i", dpi, *rect, *operands))
