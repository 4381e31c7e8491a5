#pragma once

// Texts and codes shared by the window host and the tests that drive it.

inline constexpr wchar_t kCheckingText[] = L"オルバンティの最新版を確認しています...";
// Reported by the host's "cancel" script while it waits for the user.
inline constexpr wchar_t kWaitingText[] = L"オルバンティをダウンロードしています...";
// Reported by the host's cancelled run after it has seen the cancel request.
inline constexpr wchar_t kAfterCancelText[] = L"一時ファイルを片付けています...";
// The host itself could not set up its script.
inline constexpr int kHostFailed = 99;
