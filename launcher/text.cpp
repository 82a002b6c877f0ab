#include "launcher/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vantle {

bool formatInto(char* out, std::size_t size, const char* format, ...) {
  if (out == nullptr || size == 0) return false;
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(out, size, format, args);
  va_end(args);
  if (length < 0) {
    out[0] = '\0';
    return false;
  }
  return static_cast<std::size_t>(length) < size;
}

bool copyInto(char* out, std::size_t size, const char* text) {
  if (out == nullptr || size == 0) return false;
  if (text == nullptr) text = "";
  const std::size_t length = std::strlen(text);
  const std::size_t kept = length < size ? length : size - 1;
  std::memcpy(out, text, kept);
  out[kept] = '\0';
  return kept == length;
}

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoreCase(const char* a, const char* b, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    if (a[i] == '\0') return true;
  }
  return true;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool isWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace vantle
