#pragma once

// The real program under Wine against an update service that serves a release folder: the local
// service over HTTP (tools/update_service.py) or nginx over TLS (tools/nginx/). Each test
// publishes a release into the service's folder, runs the program as a child process and looks
// at what a user or an administrator would see: the exit code, the event log, the installed
// product, the records of the started installer and product, and the temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace e2e {

inline constexpr char kDownloadPath[] = "/tov/v2/client/client-updates/orvanti/download";

std::vector<std::string> lines(const std::string& text);
bool startsWith(const std::string& text, const std::string& prefix);

class ReleaseRunTest : public testing::Test {
 public:  // case tables arrange the service from outside
  // `program`: the downloader that runs; `serviceStateDir`: the service's folder, whose "release"
  // subfolder it serves.
  ReleaseRunTest(std::wstring program, std::filesystem::path serviceStateDir);

  void SetUp() override;
  // Leaves no release behind, so that other tests find a service that has nothing to offer.
  void TearDown() override;

  virtual void resetServiceAndProduct();

  std::filesystem::path releaseFolder() const { return serviceState / L"release"; }
  std::filesystem::path servedInstaller() const { return releaseFolder() / L"OrvantiSetup.exe"; }
  static std::filesystem::path productExecutable();

  // Puts a fixture installer on the service with the manifest that describes it.
  nlohmann::json publish(const std::wstring& fixture, const std::string& version);
  void writeManifest(const std::string& text) const;

  std::uint32_t run(const std::wstring& arguments) const;

  // The per-run folders in the temporary folder.
  static std::set<std::wstring> downloadFolders();
  std::vector<nlohmann::json> events() const;
  std::vector<std::string> eventNames() const;
  void expectNothingLeftBehind() const;
  // Where the program put the installer it started: its per-run folder in the temporary folder.
  void expectInstallerStartedSilently(const char* modeSwitch) const;

  // A fresh install of 1.0.0.0, the update to 2.0.0.0, then the current product opened; every
  // run's first record names `server`.
  void installUpdateAndOpen(const std::string& server);

  // A release that a hostile or broken service puts in its folder, and the start of the text of
  // the failure it must cause.
  struct Refusal {
    const char* name;
    std::function<void(ReleaseRunTest&)> arrange;
    const char* message;
  };
  // What any static host can serve: a wrong manifest or a wrong installer file.
  static std::vector<Refusal> servedContentRefusals();
  // One run against the arranged service: it fails with the message, starts no installer and
  // leaves nothing behind.
  void expectRefused(const Refusal& refusal);

  const std::wstring program;
  const std::filesystem::path serviceState;
  testsupport::TempFolder records;
  const std::wstring installerRecord = records.file(L"installer.txt");
  const std::wstring productRecord = records.file(L"product.txt");
  std::set<std::wstring> foldersBefore;
  size_t logBefore = 0;
};

}  // namespace e2e
