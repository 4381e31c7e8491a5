#!/usr/bin/env python3
"""Benchmark of the whole update run (not a test): a signed installer of about 256 MiB served by
the local update service, one real run of OrvantiDownloader.exe against it, and the run's
unavoidable parts measured alone in the same session (bare WinHTTP download, two SHA-256 passes,
two signature checks). Also the downloader's peak memory with a 1 MiB and a 256 MiB installer.

Run by scripts/bench, which builds and prepares the Wine prefix; the environment holds WINEPREFIX.
The peak memory is the maximum resident set of the downloader's process as Linux counts it
(getrusage of the waited child): Wine's own share is the same in both runs, so the difference is
the downloader's growth with the installer's size.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

LIMIT = 268435456


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def signed_installer(build, folder, size):
    """The sample installer padded to about `size` bytes, then signed by the test publisher."""
    unsigned = os.path.join(build, "fixtures-unsigned", "sample-setup-1.0.0.0.exe")
    padded = os.path.join(folder, "padded-%d.exe" % size)
    shutil.copyfile(unsigned, padded)
    with open(padded, "ab") as out:
        remaining = size - os.path.getsize(unsigned)
        block = bytes(1 << 20)
        while remaining > 0:
            out.write(block[:min(remaining, len(block))])
            remaining -= len(block)
    signed = os.path.join(folder, "setup-%d.exe" % size)
    pki = os.path.join(build, "test-pki")
    subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(pki, "publisher-chain.pem"),
                    "-key", os.path.join(pki, "publisher.key"), "-h", "sha256",
                    "-n", "Orvanti Setup", "-in", padded, "-out", signed],
                   check=True, stdout=subprocess.DEVNULL)
    os.remove(padded)
    if os.path.getsize(signed) > LIMIT:
        raise SystemExit("bench: the signed installer exceeds the downloader's limit")
    return signed


class Service:
    def __init__(self, root, release):
        self.folder = tempfile.mkdtemp(prefix="bench-service-")
        port_file = os.path.join(self.folder, "port")
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(root, "tools", "update_service.py"), release,
             "--port", "8765", "--port-file", port_file],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(port_file):
                return
            time.sleep(0.1)
        raise SystemExit("bench: the update service did not start")

    def stop(self):
        self.process.terminate()
        self.process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)


def run_downloader(build, prefix):
    """One silent run: (seconds, peak resident KiB, exit code)."""
    user = os.path.join(prefix, "drive_c", "users", os.environ.get("USER") or "root")
    shutil.rmtree(os.path.join(user, "AppData", "Local", "Zarn", "Orvanti"), ignore_errors=True)
    start = time.monotonic()
    process = subprocess.Popen(["wine", os.path.join(build, "bin", "OrvantiDownloader.exe"),
                                "/silent"], stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.monotonic() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    return seconds, usage.ru_maxrss, process.returncode


def main():
    root, build = sys.argv[1], sys.argv[2]
    prefix = os.environ["WINEPREFIX"]
    work = tempfile.mkdtemp(prefix="bench-", dir=build)
    try:
        results = {}
        for label, size in (("1 MiB", 1 << 20), ("256 MiB", LIMIT - (1 << 16))):
            installer = signed_installer(build, work, size)
            release = os.path.join(work, "release-%d" % size)
            # Judged by the build's verification tool first, as a real release is.
            subprocess.run([sys.executable, os.path.join(root, "tools", "publish_release.py"),
                            installer, release, "--verify-with",
                            os.path.join(build, "bin", "OrvantiVerify.exe")],
                           check=True, stdout=subprocess.DEVNULL)
            os.remove(installer)
            service = Service(root, release)
            try:
                seconds, peak, code = run_downloader(build, prefix)
                if code != 0:
                    raise SystemExit("bench: the run with the %s installer ended with %d" % (label, code))
                print("bench: %s installer: run %.3f s, peak resident %d KiB" % (label, seconds, peak),
                      flush=True)
                parts = None
                if size > (1 << 20):
                    target = os.path.join(work, "parts.bin")
                    output = subprocess.run(
                        ["wine", os.path.join(build, "bin", "parts_bench.exe"),
                         "http://127.0.0.1:8765/tov/v2/client/client-updates/orvanti/download",
                         windows_path(target)],
                        check=True, stdin=subprocess.DEVNULL, capture_output=True, text=True).stdout
                    for line in output.splitlines():
                        print("bench: " + line.strip(), flush=True)
                        if line.startswith("parts: sum "):
                            parts = float(line.split()[2])
                results[label] = (seconds, peak, parts)
            finally:
                service.stop()
        run, _, parts = results["256 MiB"]
        growth = results["256 MiB"][1] - results["1 MiB"][1]
        print("bench: whole run %.3f s against its parts %.3f s" % (run, parts))
        print("bench: run/parts ratio %.2f, memory growth %d KiB" % (run / parts, growth))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
