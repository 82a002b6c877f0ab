// UTF-8 and hex forms of wide text, shared by the end-to-end helper programs:
// arguments and variables travel between them and the Python suite as hex of
// their UTF-8 bytes, so nothing is lost to code pages or quoting on the way.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

inline std::string toUtf8(const std::wstring &text) {
  if (text.empty()) {
    return std::string();
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                      nullptr, nullptr);
  return out;
}

inline std::string hex(const std::wstring &text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : toUtf8(text)) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}
