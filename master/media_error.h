// The one-line reason for a failure of the FFmpeg libraries.
#pragma once

extern "C" {
#include <libavutil/error.h>
}

#include <string>

namespace vantle {

inline std::string mediaError(const char* what, int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return std::string(what) + ": " + text;
}

}  // namespace vantle
