#include "storage/event_log.h"

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#include "common/unique_resource.h"
#include "common/unique_resource_com.h"
#include "common/user_error.h"
#include "storage/download_folder.h"
#include "storage/event_record.h"
#include "storage/private_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kRotationThreshold = 4194304;
constexpr wchar_t kCurrentLog[] = L"client.jsonl";
constexpr wchar_t kPreviousLog[] = L"client.previous.jsonl";
// Long enough for any append of another process, short enough that a hung one cannot stall the
// run: after it the record is written without the cross-process lock.
constexpr DWORD kCrossProcessWaitMs = 5000;

std::mutex& logMutex() {
  static std::mutex mutex;
  return mutex;
}

// The ProgramData folders of the log, held open for the rest of the process once they have
// passed their checks: while held they cannot be renamed, deleted or replaced by a link, so the
// folder checked is the folder written to. Any local user may create folders under ProgramData,
// and the first one owns Zarn and Orvanti.
struct HeldLogFolders {
  UniqueHandle product;  // Zarn
  UniqueHandle orvanti;
  UniqueHandle user;  // the per-user folder
};

// Creates the folder when it is missing (inheriting its parent's permissions), then holds it.
UniqueHandle createAndHold(const fs::path& folder) {
  if (!CreateDirectoryW(folder.c_str(), nullptr)) {
    ensure(GetLastError() == ERROR_ALREADY_EXISTS, "ログフォルダを作成できません");
  }
  UniqueHandle held = holdFolder(folder.wstring());
  ensure(held.valid(), "ログ保存先が不正です");
  return held;
}

// A log file that is a link would take the appends, the rotation and its removal elsewhere.
void ensureNoLinkedLog(const fs::path& file) {
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    ensure(GetLastError() == ERROR_FILE_NOT_FOUND, "ログ保存先が不正です");
    return;
  }
  ensure((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0, "ログ保存先が不正です");
}

// ProgramData\Zarn\Orvanti\<SID>, private to the user, the system and the administrators. Each
// level is created or found, then held and checked before the next is made inside it, so that
// nothing is ever created through a link. The per-user folder, found or created, must be owned
// by the user (or the system or the administrators) and admit nobody else.
fs::path privateLogFolder(HeldLogFolders& held) {
  const fs::path product = fs::path(knownFolderPath(FOLDERID_ProgramData)) / L"Zarn";
  held.product = createAndHold(product);
  const fs::path orvanti = product / L"Orvanti";
  held.orvanti = createAndHold(orvanti);
  const std::wstring sid = currentUserSid();
  const fs::path folder = orvanti / sid;
  const bool created = createPrivateDirectory(folder.wstring(), sid, "ログのアクセス権が不正です");
  ensure(created || GetLastError() == ERROR_ALREADY_EXISTS, "ログフォルダを作成できません");
  held.user = holdFolder(folder.wstring());
  ensure(held.user.valid(), "ログ保存先が不正です");
  ensure(heldFolderIsPrivate(held.user.get(), sid), "ログのアクセス権が不正です");
  ensureNoLinkedLog(folder / kCurrentLog);
  ensureNoLinkedLog(folder / kPreviousLog);
  const fs::path probe = folder / (L".access-" + std::to_wstring(GetCurrentProcessId()));
  const UniqueHandle handle(
      CreateFileW(probe.c_str(), GENERIC_WRITE, /* dwShareMode */ 0, nullptr, CREATE_NEW,
                  FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY, nullptr));
  ensure(handle.valid(), "ログ保存先に書き込めません");
  return folder;
}

// LocalAppData\Zarn\Orvanti\logs: the user's own profile, no further checks.
fs::path fallbackLogFolder() {
  const fs::path folder =
      fs::path(knownFolderPath(FOLDERID_LocalAppData)) / L"Zarn" / L"Orvanti" / L"logs";
  fs::create_directories(folder);
  return folder;
}

// Resolved at the first append that gets a folder, then kept for the process. Called under the
// log mutex only.
const fs::path& logFolder() {
  static std::optional<fs::path> cached;
  if (!cached) {
    static HeldLogFolders held;
    fs::path folder;
    try {
      folder = privateLogFolder(held);
    } catch (...) {
      held = HeldLogFolders();       // a refused folder is let go
      folder = fallbackLogFolder();  // a failure here drops the record; nothing is cached
    }
    cached = std::move(folder);
  }
  return *cached;
}

// The user's runs in this session append to the same files; the named mutex orders them (without
// it two processes appending at once lose records). Called under the log mutex only.
HANDLE crossProcessMutex() {
  static UniqueHandle mutex;
  if (!mutex) {
    try {
      const std::wstring name = L"Local\\ZarnOrvantiEventLog-" + currentUserSid();
      mutex.reset(CreateMutexW(nullptr, /* bInitialOwner */ FALSE, name.c_str()));
    } catch (...) {
      // No mutex: this record goes unlocked, the next append tries again.
    }
  }
  return mutex.get();
}

class CrossProcessLock {
 public:
  CrossProcessLock() {
    const HANDLE mutex = crossProcessMutex();
    if (mutex == nullptr) return;
    // An abandoned mutex (its owner died) is owned now like any other.
    const DWORD result = WaitForSingleObject(mutex, kCrossProcessWaitMs);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) held_ = mutex;
  }
  ~CrossProcessLock() {
    if (held_ != nullptr) ReleaseMutex(held_);
  }
  CrossProcessLock(const CrossProcessLock&) = delete;
  CrossProcessLock& operator=(const CrossProcessLock&) = delete;

 private:
  HANDLE held_ = nullptr;
};

void rotateIfFull(const fs::path& current, const fs::path& previous) {
  if (!fs::exists(current) || fs::file_size(current) <= kRotationThreshold) return;
  std::error_code ignored;
  fs::remove(previous, ignored);
  // A failure (another program holding the file) is ignored: the next append tries again.
  MoveFileExW(current.c_str(), previous.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
}

}  // namespace

void EventLog::append(const std::string& event, nlohmann::json fields) noexcept {
  try {
    const std::lock_guard<std::mutex> lock(logMutex());
    // Serialised first: a record that cannot be serialised (text that is not UTF-8) is dropped
    // before any file is touched, rotation included.
    const std::string line = eventRecordLine(event, std::move(fields), currentUtcMs());
    const fs::path& folder = logFolder();
    const CrossProcessLock crossProcessLock;
    fs::create_directories(folder);  // it may have been deleted since it was resolved
    const fs::path current = folder / kCurrentLog;
    rotateIfFull(current, folder / kPreviousLog);
    // Opened for each record with sharing that denies nothing; a failed open writes nothing.
    std::ofstream out(current, std::ios::out | std::ios::app | std::ios::binary);
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    out.close();
  } catch (...) {
    // Logging never fails toward the run: the record is lost.
  }
}

std::wstring knownFolderPath(REFKNOWNFOLDERID id) {
  UniqueCoTaskMemory<PWSTR> path;
  const HRESULT result =
      SHGetKnownFolderPath(id, /* dwFlags */ 0, /* hToken */ nullptr, path.put());
  ensure(SUCCEEDED(result) && path.get() != nullptr, "User directory unavailable");
  return std::wstring(path.get());
}
