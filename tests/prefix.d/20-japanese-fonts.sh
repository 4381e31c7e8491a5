# Test and demo prefix: Japanese text would show as empty boxes without a Japanese font behind the
# faces the program asks for. "Segoe UI" is the window's face; "MS UI Gothic" is the fallback that
# message boxes reach for Japanese. IPAPGothic comes from the Debian package fonts-ipafont-gothic.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v 'Segoe UI' /t REG_SZ /d IPAPGothic /f
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /t REG_SZ /d IPAPGothic /f
