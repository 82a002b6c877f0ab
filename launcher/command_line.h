// Re-quoting of an argument vector into one Windows command line.
#pragma once

#include <cstddef>

namespace vantle {

// Joins `count` entries into one newly allocated command line (release it with
// std::free), quoted so that CommandLineToArgvW and the usual argument
// splitting of Windows programs give back exactly these entries. Returns
// nullptr when memory runs out.
wchar_t *buildCommandLine(const wchar_t *const *entries, std::size_t count);

// The same over UTF-8 entries. The characters that decide the quoting are
// ASCII, which UTF-8 never uses inside a longer character, so the line is
// the UTF-8 form of the one the UTF-16 entries give.
char *buildCommandLine(const char *const *entries, std::size_t count);

}  // namespace vantle
