// The command line VantleCast builds for the application: any list of
// arguments must come back unchanged when the line is split again by the
// Windows rules, here implemented on their own, from their description,
// without the builder's code. The first entry is the program's path, which
// Windows splits by a simpler rule (no escapes): a path never holds a quote
// and never ends in a backslash, and so neither does the first entry here.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/command_line.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The program name: up to the next quote when it starts with one, else up
// to the first blank; no backslash is special.
const wchar_t* splitProgram(const wchar_t* s, std::wstring& out) {
  if (*s == L'"') {
    ++s;
    while (*s != L'\0' && *s != L'"') out += *s++;
    if (*s == L'"') ++s;
  } else {
    while (*s != L'\0' && !isBlank(*s)) out += *s++;
  }
  return s;
}

// The arguments after it: blanks separate outside quotes; 2n backslashes
// before a quote give n and the quote opens or closes, 2n + 1 give n and a
// literal quote; other backslashes are literal; inside quotes "" is a literal
// quote.
std::vector<std::wstring> split(const wchar_t* s) {
  std::vector<std::wstring> args(1);
  s = splitProgram(s, args[0]);
  for (;;) {
    while (isBlank(*s)) ++s;
    if (*s == L'\0') break;
    std::wstring arg;
    bool quoted = false;
    while (*s != L'\0' && (quoted || !isBlank(*s))) {
      std::size_t slashes = 0;
      while (s[slashes] == L'\\') ++slashes;
      if (s[slashes] == L'"') {
        arg.append(slashes / 2, L'\\');
        s += slashes + 1;
        if (slashes % 2 == 1) {
          arg += L'"';
        } else if (quoted && *s == L'"') {
          arg += L'"';
          ++s;
        } else {
          quoted = !quoted;
        }
      } else if (slashes > 0) {
        arg.append(slashes, L'\\');
        s += slashes;
      } else {
        arg += *s++;
      }
    }
    args.push_back(arg);
  }
  return args;
}

wchar_t someUnit(FuzzedDataProvider& in) {
  static const wchar_t special[] = {L'a',  L' ',   L'\t',  L'"',   L'\\', L'\n',
                                    L'\v', 0x00E9, 0x4E2D, 0xD83D, 0xDE00};
  if (in.ConsumeBool()) return in.PickValueInArray(special);
  const auto unit = in.ConsumeIntegralInRange<std::uint16_t>(1, 0xFFFF);
  return static_cast<wchar_t>(unit);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(1, 8);
  std::vector<std::wstring> entries(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(0, 40);
    for (std::size_t k = 0; k < length; ++k) {
      wchar_t c = someUnit(in);
      if (i == 0 && c == L'"') c = L'_';
      entries[i] += c;
    }
    if (i == 0 && !entries[0].empty() && entries[0].back() == L'\\') entries[0].back() = L'_';
  }
  std::vector<const wchar_t*> pointers;
  for (const std::wstring& e : entries) pointers.push_back(e.c_str());

  wchar_t* line = vantle::buildCommandLine(pointers.data(), pointers.size());
  FUZZ_CHECK(line != nullptr, "no command line for %zu entries", count);
  const std::vector<std::wstring> back = split(line);
  std::free(line);
  FUZZ_CHECK(back.size() == entries.size(), "%zu entries came back as %zu", entries.size(),
             back.size());
  for (std::size_t i = 0; i < count; ++i) {
    FUZZ_CHECK(back[i] == entries[i], "entry %zu changed", i);
  }
  return 0;
}
