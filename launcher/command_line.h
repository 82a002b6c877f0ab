// Re-quoting of an argument vector into one Windows command line.
#pragma once

#include <cstddef>

namespace vantle {

// Joins `count` entries into one newly allocated command line (release it with
// std::free), quoted so that CommandLineToArgvW and the usual argument
// splitting of Windows programs give back exactly these entries. Returns
// nullptr when memory runs out.
wchar_t *buildCommandLine(const wchar_t *const *entries, std::size_t count);

}  // namespace vantle
