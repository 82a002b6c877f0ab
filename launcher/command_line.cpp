#include "launcher/command_line.h"

#include <cstdlib>
#include <cwchar>

namespace vantle {

namespace {

// An entry needs quotes when it is empty or holds a character that the
// splitter treats as a separator or as a quote.
bool needsQuotes(const wchar_t *entry) {
  if (entry[0] == L'\0') {
    return true;
  }
  for (const wchar_t *p = entry; *p != L'\0'; ++p) {
    if (*p == L' ' || *p == L'\t' || *p == L'\n' || *p == L'\v' || *p == L'"') {
      return true;
    }
  }
  return false;
}

wchar_t *appendBackslashes(wchar_t *out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    *out++ = L'\\';
  }
  return out;
}

// Inside quotes, backslashes are literal except in front of a quote: there
// 2n backslashes mean n and a closing quote, 2n + 1 mean n and a literal one.
// So a run before a quote (or before the closing quote) is doubled.
wchar_t *appendQuoted(wchar_t *out, const wchar_t *entry) {
  *out++ = L'"';
  const wchar_t *p = entry;
  while (*p != L'\0') {
    std::size_t slashes = 0;
    while (*p == L'\\') {
      ++slashes;
      ++p;
    }
    if (*p == L'\0') {
      out = appendBackslashes(out, 2 * slashes);
      break;
    }
    if (*p == L'"') {
      out = appendBackslashes(out, 2 * slashes + 1);
    } else {
      out = appendBackslashes(out, slashes);
    }
    *out++ = *p++;
  }
  *out++ = L'"';
  return out;
}

}  // namespace

wchar_t *buildCommandLine(const wchar_t *const *entries, std::size_t count) {
  // Worst case per entry: every character doubled, two quotes and a separator.
  std::size_t units = 1;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t length = std::wcslen(entries[i]);
    if (length > (static_cast<std::size_t>(-1) / sizeof(wchar_t) - units - 3) / 2) {
      return nullptr;
    }
    units += 2 * length + 3;
  }
  auto *line = static_cast<wchar_t *>(std::calloc(units, sizeof(wchar_t)));
  if (line == nullptr) {
    return nullptr;
  }
  wchar_t *out = line;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) {
      *out++ = L' ';
    }
    if (needsQuotes(entries[i])) {
      out = appendQuoted(out, entries[i]);
    } else {
      const std::size_t length = std::wcslen(entries[i]);
      std::wmemcpy(out, entries[i], length);
      out += length;
    }
  }
  *out = L'\0';
  return line;
}

}  // namespace vantle
