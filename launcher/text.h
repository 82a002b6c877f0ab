// Byte-string helpers shared by the launcher: every formatted write goes
// through these, so it is cut to its buffer and always terminated.
#pragma once

#include <cstddef>

namespace vantle {

// Sizes of the launcher's fixed buffers.
constexpr std::size_t kPathSize = 4096;     // paths and the log header
constexpr std::size_t kMessageSize = 1024;  // message texts
constexpr std::size_t kSlotSize = 32;       // runtime slot

// The format check of formatInto: the C99 printf rules it follows, which
// GCC (and mingw, whose own default is Microsoft's) calls gnu_printf and
// clang calls printf.
#if defined(__clang__)
#define VANTLE_C99_PRINTF(index, first) __attribute__((format(printf, index, first)))
#else
#define VANTLE_C99_PRINTF(index, first) __attribute__((format(gnu_printf, index, first)))
#endif

// snprintf into out, cut to size - 1 bytes and terminated (nothing is
// written when size is 0); true when the whole text fitted.
bool formatInto(char* out, std::size_t size, const char* format, ...) VANTLE_C99_PRINTF(3, 4);

// Copies text into out the same way; true when it fitted.
bool copyInto(char* out, std::size_t size, const char* text);

// ASCII letters compared without case, other bytes exactly.
char asciiLower(char c);
bool equalsIgnoreCase(const char* a, const char* b, std::size_t count);

bool isDigit(char c);
bool isAsciiLetter(char c);

// Blank, tab, line feed, vertical tab, form feed or carriage return.
bool isWhiteSpace(char c);

}  // namespace vantle
