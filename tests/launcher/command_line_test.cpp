#include "launcher/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
// clang-format off
// windows.h first: the other Windows headers rely on its types.
#include <windows.h>
// clang-format on

#include <shellapi.h>
#endif

namespace {

using Entries = std::vector<std::wstring>;

// The splitting rules of Windows programs, written from their description
// rather than from the quoting code: the program name runs to the next quote
// when it starts with one, else to the first blank; after it, blanks and tabs
// separate arguments outside quotes, 2n backslashes before a quote give n and
// toggle quoting, 2n + 1 give n and a literal quote, other backslashes are
// literal, and "" inside quotes is a literal quote.
Entries splitLikeWindows(const std::wstring &line) {
  Entries out;
  std::size_t i = 0;
  std::wstring name;
  if (i < line.size() && line[i] == L'"') {
    ++i;
    while (i < line.size() && line[i] != L'"') {
      name += line[i++];
    }
    if (i < line.size()) {
      ++i;
    }
  } else {
    while (i < line.size() && line[i] != L' ' && line[i] != L'\t') {
      name += line[i++];
    }
  }
  out.push_back(name);
  for (;;) {
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) {
      ++i;
    }
    if (i >= line.size()) {
      break;
    }
    std::wstring arg;
    bool quoted = false;
    while (i < line.size()) {
      const wchar_t c = line[i];
      if (c == L'\\') {
        std::size_t n = 0;
        while (i < line.size() && line[i] == L'\\') {
          ++n;
          ++i;
        }
        if (i < line.size() && line[i] == L'"') {
          arg.append(n / 2, L'\\');
          if (n % 2 == 1) {
            arg += L'"';
            ++i;
          }
        } else {
          arg.append(n, L'\\');
        }
      } else if (c == L'"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
          arg += L'"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else if (!quoted && (c == L' ' || c == L'\t')) {
        break;
      } else {
        arg += c;
        ++i;
      }
    }
    out.push_back(arg);
  }
  return out;
}

std::wstring build(const Entries &entries) {
  std::vector<const wchar_t *> pointers;
  for (const std::wstring &e : entries) {
    pointers.push_back(e.c_str());
  }
  wchar_t *line = vantle::buildCommandLine(pointers.data(), pointers.size());
  EXPECT_NE(line, nullptr);
  std::wstring result = line != nullptr ? line : L"";
  std::free(line);
  return result;
}

// Arguments that a user may hand the launcher; every one must come back as is.
const Entries kTrickyArguments = {
    L"plain",
    L"two words",
    L"tab\there",
    L"line\nfeed",
    L"vertical\vtab",
    L"",
    L"\"",
    L"say \"hi\"",
    L"embedded\"quote",
    L"C:\\dir\\",
    L"C:\\dir with space\\",
    L"\\\\server\\share\\",
    L"back\\\"quote",
    L"two\\\\\"quotes",
    L"\\",
    L"\\\\",
    L"a\\\\b c",
    L"\\\"",
    L"trailing space ",
    L" ",
    L"--flag=\"x y\"\\",
    L"Gr\u00fc\u00dfe \u65e5\u672c\u8a9e",
    L"\u00e9t\u00e9\\",
    L"emoji \U0001F3A7 \"q\"",
    L"\\\\\\\"\\\\",
};

TEST(BuildCommandLine, EveryEntrySurvivesTheSplittingRules) {
  Entries entries = {L"C:\\Program Files\\Korvane\\python.exe", L"-m", L"vantle.apps.podcasts"};
  entries.insert(entries.end(), kTrickyArguments.begin(), kTrickyArguments.end());
  EXPECT_EQ(splitLikeWindows(build(entries)), entries);
}

TEST(BuildCommandLine, EachEntryAloneSurvives) {
  for (const std::wstring &arg : kTrickyArguments) {
    const Entries entries = {L"C:\\app\\python.exe", arg};
    EXPECT_EQ(splitLikeWindows(build(entries)), entries) << "entry of length " << arg.size();
  }
}

TEST(BuildCommandLine, QuotesOnlyWhatNeedsQuoting) {
  // Exact forms: plain entries stay bare, backslashes double only before a
  // quote and at the end of a quoted entry.
  EXPECT_EQ(build({L"C:\\x\\python.exe", L"-m", L"a\\b"}), L"C:\\x\\python.exe -m a\\b");
  EXPECT_EQ(build({L"p", L""}), L"p \"\"");
  EXPECT_EQ(build({L"p", L"a b\\"}), L"p \"a b\\\\\"");
  EXPECT_EQ(build({L"p", L"a\\\"b"}), L"p \"a\\\\\\\"b\"");
  EXPECT_EQ(build({L"p", L"a\\b c"}), L"p \"a\\b c\"");
  // Line feeds and vertical tabs split arguments in some programs' parsers.
  EXPECT_EQ(build({L"p", L"a\nb", L"c\vd"}), L"p \"a\nb\" \"c\vd\"");
  EXPECT_EQ(build({}), L"");
}

// UTF-8 of a wide string (UTF-16 on Windows, UTF-32 elsewhere).
std::string utf8(const std::wstring &text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<std::uint32_t>(text[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(text[++i]) - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The launcher builds the line from UTF-8 entries and widens it at the end:
// that must give the very line the wide entries give.
TEST(BuildCommandLine, Utf8EntriesGiveTheUtf8OfTheWideLine) {
  Entries entries = {L"C:\\\u041f\u0430\u043f\u043a\u0430 \u6587\u4ef6\\python.exe", L"-m",
                     L"vantle.apps.podcasts"};
  entries.insert(entries.end(), kTrickyArguments.begin(), kTrickyArguments.end());
  std::vector<std::string> narrow;
  for (const std::wstring &e : entries) narrow.push_back(utf8(e));
  std::vector<const char *> pointers;
  for (const std::string &e : narrow) pointers.push_back(e.c_str());
  char *line = vantle::buildCommandLine(pointers.data(), pointers.size());
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(std::string(line), utf8(build(entries)));
  std::free(line);
}

#ifdef _WIN32
// The same round trip through the system's own splitter.
TEST(BuildCommandLine, CommandLineToArgvWGivesTheEntriesBack) {
  Entries entries = {L"C:\\Program Files\\Korvane\\python.exe", L"-m", L"vantle.apps.podcasts"};
  entries.insert(entries.end(), kTrickyArguments.begin(), kTrickyArguments.end());
  const std::wstring line = build(entries);
  int count = 0;
  wchar_t **argv = CommandLineToArgvW(line.c_str(), &count);
  ASSERT_NE(argv, nullptr);
  Entries split(argv, argv + count);
  LocalFree(argv);
  EXPECT_EQ(split, entries);
}
#endif

}  // namespace
