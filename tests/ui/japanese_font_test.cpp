// The window's face ("Segoe UI") and the message boxes' fallback face ("MS UI Gothic") must have a
// glyph for every character of the program's texts; otherwise they show as empty boxes. In the test
// and demo prefix both are substituted by a Japanese font (tests/prefix.d/20-japanese-fonts.sh).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_resource.h"

namespace {

const wchar_t* const kTexts[] = {
    L"オルバンティのインストール",
    L"オルバンティの最新版を確認しています...",
    L"インストール済みのオルバンティは最新です。",
    L"オルバンティをダウンロードしています...",
    L"インストーラの署名と内容を確認しています...",
    L"オルバンティをインストールしています...",
    L"インストール済みのオルバンティを開いています...",
    L"ダウンロードを中止しています...",
    L"ダウンロードを中止しました。",
    L"キャンセル",
    L"インストールが完了しました。Windowsを再起動してください。",
    L"インストールが完了しませんでした。終了コード: 0123456789",
};

struct DcTraits {
  using Type = HDC;
  static Type none() noexcept { return nullptr; }
  static bool valid(Type dc) noexcept { return dc != nullptr; }
  static void close(Type dc) noexcept { DeleteDC(dc); }
};
struct FontTraits {
  using Type = HFONT;
  static Type none() noexcept { return nullptr; }
  static bool valid(Type font) noexcept { return font != nullptr; }
  static void close(Type font) noexcept { DeleteObject(font); }
};

class JapaneseFontTest : public testing::TestWithParam<const wchar_t*> {};

TEST_P(JapaneseFontTest, HasAGlyphForEveryCharacterOfTheProgramsTexts) {
  const UniqueResource<DcTraits> dc(CreateCompatibleDC(nullptr));
  ASSERT_TRUE(dc.valid());
  // The window's own font at 96 dpi.
  const UniqueResource<FontTraits> font(
      CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, 0, GetParam()));
  ASSERT_TRUE(font.valid());
  const HGDIOBJ previous = SelectObject(dc.get(), font.get());

  for (const wchar_t* text : kTexts) {
    const std::wstring line(text);
    SCOPED_TRACE(toUtf8(line));
    std::vector<WORD> glyphs(line.size());
    ASSERT_EQ(GetGlyphIndicesW(dc.get(), line.c_str(), static_cast<int>(line.size()), glyphs.data(),
                               GGI_MARK_NONEXISTING_GLYPHS),
              line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
      EXPECT_NE(glyphs[i], 0xFFFF)
          << "no glyph for U+" << std::hex << static_cast<int>(line[i]) << " at " << std::dec << i;
    }
  }
  SelectObject(dc.get(), previous);
}

INSTANTIATE_TEST_SUITE_P(Faces, JapaneseFontTest, testing::Values(L"Segoe UI", L"MS UI Gothic"),
                         [](const testing::TestParamInfo<const wchar_t*>& info) {
                           std::string name;
                           for (const wchar_t* c = info.param; *c != 0; ++c) {
                             if (*c != L' ') name += static_cast<char>(*c);
                           }
                           return name;
                         });

}  // namespace
