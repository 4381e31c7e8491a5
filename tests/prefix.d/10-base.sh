# Test and demo prefix: a crash must fail a test, not open Wine's crash dialog and hang it.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
