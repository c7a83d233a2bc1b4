#include <gtest/gtest.h>

#include "proxy/StringConvert.h"

using ZarnSdk::Utf8ToWide;
using ZarnSdk::WideToUtf8;

TEST(StringConvert, RoundTripsEveryPlaneAndCutsAtNul) {
  // ASCII, two-, three- and four-byte forms.
  const std::wstring wide = L"a\u00e9\u4e2d\U0001F600z";
  const std::string utf8 = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z";
  EXPECT_EQ(WideToUtf8(wide), utf8);
  EXPECT_EQ(Utf8ToWide(utf8), wide);
  EXPECT_EQ(WideToUtf8(L""), "");
  EXPECT_EQ(Utf8ToWide(""), L"");

  std::wstring withNul = L"ab";
  withNul += L'\0';
  withNul += L"cd";
  EXPECT_EQ(WideToUtf8(withNul), "ab");
  EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), L"ab");
}

TEST(StringConvert, InvalidInputBecomesReplacementCharacter) {
  std::wstring lone;
  lone += L'x';
  lone += static_cast<wchar_t>(0xD800);  // a lone surrogate
  lone += L'y';
  EXPECT_EQ(WideToUtf8(lone), "x\xEF\xBF\xBDy");

  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), L"a\uFFFDb");             // never valid byte
  EXPECT_EQ(Utf8ToWide("a\xC0\xAF" "b"), L"a\uFFFD\uFFFDb");   // overlong form
  EXPECT_EQ(Utf8ToWide("a\xED\xA0\x80" "b"), L"a\uFFFD\uFFFD\uFFFDb");  // encoded surrogate
  EXPECT_EQ(Utf8ToWide("a\xE4\xB8"), L"a\uFFFD");              // truncated sequence at the end
  EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), L"\uFFFD\uFFFD\uFFFD\uFFFD");  // beyond U+10FFFF
}
