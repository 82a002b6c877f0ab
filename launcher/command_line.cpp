#include "launcher/command_line.h"

#include <cstdlib>
#include <cstring>

namespace vantle {

namespace {

template <typename Char>
std::size_t lengthOf(const Char *text) {
  std::size_t n = 0;
  while (text[n] != Char('\0')) ++n;
  return n;
}

// An entry needs quotes when it is empty or holds a character that the
// splitter treats as a separator or as a quote.
template <typename Char>
bool needsQuotes(const Char *entry) {
  if (entry[0] == Char('\0')) {
    return true;
  }
  for (const Char *p = entry; *p != Char('\0'); ++p) {
    if (*p == Char(' ') || *p == Char('\t') || *p == Char('\n') || *p == Char('\v') ||
        *p == Char('"')) {
      return true;
    }
  }
  return false;
}

template <typename Char>
Char *appendBackslashes(Char *out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    *out++ = Char('\\');
  }
  return out;
}

// Inside quotes, backslashes are literal except in front of a quote: there
// 2n backslashes mean n and a closing quote, 2n + 1 mean n and a literal one.
// So a run before a quote (or before the closing quote) is doubled.
template <typename Char>
Char *appendQuoted(Char *out, const Char *entry) {
  *out++ = Char('"');
  const Char *p = entry;
  while (*p != Char('\0')) {
    std::size_t slashes = 0;
    while (*p == Char('\\')) {
      ++slashes;
      ++p;
    }
    if (*p == Char('\0')) {
      out = appendBackslashes(out, 2 * slashes);
      break;
    }
    if (*p == Char('"')) {
      out = appendBackslashes(out, 2 * slashes + 1);
    } else {
      out = appendBackslashes(out, slashes);
    }
    *out++ = *p++;
  }
  *out++ = Char('"');
  return out;
}

template <typename Char>
Char *joinQuoted(const Char *const *entries, std::size_t count) {
  // Worst case per entry: every character doubled, two quotes and a separator.
  std::size_t units = 1;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t length = lengthOf(entries[i]);
    if (length > (static_cast<std::size_t>(-1) / sizeof(Char) - units - 3) / 2) {
      return nullptr;
    }
    units += 2 * length + 3;
  }
  auto *line = static_cast<Char *>(std::calloc(units, sizeof(Char)));
  if (line == nullptr) {
    return nullptr;
  }
  Char *out = line;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) {
      *out++ = Char(' ');
    }
    if (needsQuotes(entries[i])) {
      out = appendQuoted(out, entries[i]);
    } else {
      const std::size_t length = lengthOf(entries[i]);
      std::memcpy(out, entries[i], length * sizeof(Char));
      out += length;
    }
  }
  *out = Char('\0');
  return line;
}

}  // namespace

wchar_t *buildCommandLine(const wchar_t *const *entries, std::size_t count) {
  return joinQuoted(entries, count);
}

char *buildCommandLine(const char *const *entries, std::size_t count) {
  return joinQuoted(entries, count);
}

}  // namespace vantle
