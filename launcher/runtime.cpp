#include "launcher/runtime.h"

#include <cstring>

namespace vantle {

namespace {

constexpr char kVersionFileName[] = "vantle-app-version.ini";
constexpr char kManifestName[] = "korvane-runtime.json";
constexpr char kRuntimeExeName[] = "KorvaneRuntime.exe";
// Candidates for an application-local interpreter, best first.
constexpr const char* kAppLocalCandidates[] = {"_internal\\python.exe", "python.exe",
                                               "pythonw.exe"};
// Version-file lines are read in pieces of at most this many bytes.
constexpr std::size_t kVersionLineBytes = 255;
// Only this much of the manifest is looked at.
constexpr std::size_t kManifestBytes = 511;
// Longest manifest value that is compared.
constexpr std::size_t kManifestValueLength = 31;
// A folder name of this length or more is no archiver's extraction folder.
constexpr std::size_t kArchiveComponentLimit = 512;

constexpr char kArchiveMessageFormat[] =
    "%s was opened from inside the zip file, so Windows copied only that one file out and left "
    "the rest of the program behind.\n\nExtract the whole zip first: select it in File Explorer, "
    "press the Applications key, choose Extract All, and choose a folder. Then open %s in the "
    "extracted folder.";

void clear(char* out, std::size_t size) {
  if (out != nullptr && size > 0) out[0] = '\0';
}

// The launcher's folder: ownPath without its last component.
bool launcherFolder(Platform& platform, const char* ownPath, char (&folder)[kPathSize]) {
  if (ownPath == nullptr || std::strlen(ownPath) >= kPathSize) return false;
  copyInto(folder, sizeof folder, ownPath);
  return platform.removeFileSpec(folder);
}

bool isRegularFile(Platform& platform, const char* path) {
  return platform.fileKind(path) == FileKind::file;
}

// Reads a file the way fgets with a 256-byte buffer does: a line feed ends a
// piece, and so does the 255th byte, so a longer line arrives in pieces.
struct PieceReader {
  Platform& platform;
  const char* path;
  std::uint64_t offset = 0;  // file position of chunk[0]
  char chunk[4096];
  std::size_t length = 0;
  std::size_t position = 0;
  bool atEnd = false;

  PieceReader(Platform& p, const char* f) : platform(p), path(f) {}

  bool fill() {
    offset += length;
    position = 0;
    length = 0;
    const long long got = platform.readFileAt(path, offset, chunk, sizeof chunk);
    if (got <= 0) {
      atEnd = true;
      return false;
    }
    length = static_cast<std::size_t>(got);
    return true;
  }

  // False at the end of the file (or on a read error) with nothing read.
  bool next(char (&piece)[kVersionLineBytes + 1]) {
    std::size_t used = 0;
    while (used < kVersionLineBytes) {
      if (position == length && (atEnd || !fill())) break;
      const char c = chunk[position++];
      piece[used++] = c;
      if (c == '\n') break;
    }
    piece[used] = '\0';
    return used > 0;
  }
};

// digits "." digits, then nothing, "-beta" or "-dev".
bool isValidSlot(const char* value) {
  const char* p = value;
  if (!isDigit(*p)) return false;
  while (isDigit(*p)) ++p;
  if (*p++ != '.') return false;
  if (!isDigit(*p)) return false;
  while (isDigit(*p)) ++p;
  return *p == '\0' || std::strcmp(p, "-beta") == 0 || std::strcmp(p, "-dev") == 0;
}

const char* findBytes(const char* data, std::size_t length, const char* needle) {
  const std::size_t needleLength = std::strlen(needle);
  for (std::size_t i = 0; i + needleLength <= length; ++i) {
    if (std::memcmp(data + i, needle, needleLength) == 0) return data + i;
  }
  return nullptr;
}

bool isManifestSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The interpreter version the manifest's "python" key names, cut to 31
// characters; false when the key or its string value is missing or empty.
bool manifestPythonVersion(const char* data, std::size_t length,
                           char (&value)[kManifestValueLength + 1]) {
  const char* end = data + length;
  const char* p = findBytes(data, length, "\"python\"");
  if (p == nullptr) return false;
  p += 8;
  while (p < end && isManifestSpace(*p)) ++p;
  if (p == end || *p != ':') return false;
  ++p;
  while (p < end && isManifestSpace(*p)) ++p;
  if (p == end || *p != '"') return false;
  ++p;
  std::size_t used = 0;
  while (p < end && *p != '"' && used < kManifestValueLength) value[used++] = *p++;
  value[used] = '\0';
  return used > 0;
}

bool isArchiveFolder(const char* name, std::size_t length) {
  // Windows copies a program started from inside a zip into Temp<n>_<zip name>.zip.
  if (length >= 4 && equalsIgnoreCase(name, "temp", 4)) {
    std::size_t i = 4;
    while (i < length && isDigit(name[i])) ++i;
    if (i > 4 && i < length && name[i] == '_' && length >= i + 1 + 4 &&
        equalsIgnoreCase(name + length - 4, ".zip", 4)) {
      return true;
    }
  }
  // 7-Zip's extraction folders: 7zO and a run of letters and digits.
  if (length > 3 && equalsIgnoreCase(name, "7zo", 3)) {
    std::size_t i = 3;
    while (i < length && (isDigit(name[i]) || isAsciiLetter(name[i]))) ++i;
    if (i == length) return true;
  }
  // WinRAR's extraction folders.
  return length >= 4 && equalsIgnoreCase(name, "rar$", 4);
}

}  // namespace

bool joinPath(char* out, std::size_t size, const char* folder, const char* name) {
  if (folder == nullptr || folder[0] == '\0') return copyInto(out, size, name);
  const char last = folder[std::strlen(folder) - 1];
  if (last == '\\' || last == '/') return formatInto(out, size, "%s%s", folder, name);
  return formatInto(out, size, "%s%c%s", folder, '\\', name);
}

bool resolveRuntime(Platform& platform, const char* ownPath, RuntimeLocation& location) {
  std::memset(&location, 0, sizeof location);
  char folder[kPathSize];
  if (launcherFolder(platform, ownPath, folder) &&
      findAppLocalPython(platform, folder, location.pythonPath, sizeof location.pythonPath,
                         location.runtimeHome, sizeof location.runtimeHome)) {
    copyInto(location.appLocalDir, sizeof location.appLocalDir, folder);
    return true;
  }
  if (launcherFolder(platform, ownPath, folder)) {
    readRuntimeSlot(platform, folder, location.slot, sizeof location.slot);
  }
  return findSharedRuntime(platform, location.slot, location.pythonPath, sizeof location.pythonPath,
                           location.runtimeHome, sizeof location.runtimeHome);
}

bool findAppLocalPython(Platform& platform, const char* folder, char* pythonPath,
                        std::size_t pythonPathSize, char* home, std::size_t homeSize) {
  clear(pythonPath, pythonPathSize);
  clear(home, homeSize);
  char candidate[kPathSize];
  for (const char* name : kAppLocalCandidates) {
    if (!joinPath(candidate, sizeof candidate, folder, name)) continue;
    if (!isRegularFile(platform, candidate)) continue;
    if (!copyInto(pythonPath, pythonPathSize, candidate) || !copyInto(home, homeSize, folder)) {
      clear(pythonPath, pythonPathSize);
      clear(home, homeSize);
      return false;
    }
    return true;
  }
  return false;
}

bool readRuntimeSlot(Platform& platform, const char* folder, char* slot, std::size_t slotSize) {
  clear(slot, slotSize);
  if (slot == nullptr || slotSize == 0) return false;
  if (folder == nullptr || folder[0] == '\0') return false;
  char path[kPathSize];
  if (!joinPath(path, sizeof path, folder, kVersionFileName)) return false;

  PieceReader reader(platform, path);
  if (!reader.fill()) return false;  // cannot be opened, or empty

  bool inRuntimeSection = false;
  char piece[kVersionLineBytes + 1];
  while (reader.next(piece)) {
    char* line = piece;
    if (static_cast<unsigned char>(line[0]) == 0xEF &&
        static_cast<unsigned char>(line[1]) == 0xBB &&
        static_cast<unsigned char>(line[2]) == 0xBF) {
      line += 3;
    }
    while (*line == ' ' || *line == '\t') ++line;
    std::size_t length = std::strlen(line);
    while (length > 0 && (line[length - 1] == ' ' || line[length - 1] == '\t' ||
                          line[length - 1] == '\r' || line[length - 1] == '\n')) {
      line[--length] = '\0';
    }
    if (line[0] == '[') {
      inRuntimeSection = length >= 9 && equalsIgnoreCase(line, "[runtime]", 9);
      continue;
    }
    if (!inRuntimeSection || length < 5 || !equalsIgnoreCase(line, "slot=", 5)) continue;
    // The first slot line decides, valid or not.
    const char* value = line + 5;
    const std::size_t valueLength = length - 5;
    if (valueLength >= kSlotSize || valueLength >= slotSize || !isValidSlot(value)) return false;
    copyInto(slot, slotSize, value);
    return true;
  }
  return false;
}

bool findSharedRuntime(Platform& platform, const char* slot, char* pythonPath,
                       std::size_t pythonPathSize, char* home, std::size_t homeSize) {
  clear(pythonPath, pythonPathSize);
  clear(home, homeSize);
  char localAppData[kPathSize];
  const std::size_t localLength =
      platform.getEnv("LOCALAPPDATA", localAppData, sizeof localAppData);
  if (localLength == 0 || localLength >= sizeof localAppData) return false;

  char root[kPathSize];
  if (!formatInto(root, sizeof root, "%s\\Korvane\\Runtime", localAppData)) return false;
  if (platform.fileKind(root) == FileKind::absent) return false;

  char slotFolder[kPathSize];
  const char* slotName = (slot != nullptr && slot[0] != '\0') ? slot : kDefaultSlot;
  if (!joinPath(slotFolder, sizeof slotFolder, root, slotName)) return false;
  if (platform.fileKind(slotFolder) == FileKind::absent) return false;

  char manifest[kPathSize];
  if (!joinPath(manifest, sizeof manifest, slotFolder, kManifestName)) return false;
  if (!isRegularFile(platform, manifest)) return false;
  char bytes[kManifestBytes];
  const long long got = platform.readFileAt(manifest, 0, bytes, sizeof bytes);
  if (got <= 0) return false;

  char version[kManifestValueLength + 1];
  if (!manifestPythonVersion(bytes, static_cast<std::size_t>(got), version)) return false;
  const std::size_t required = std::strlen(kRequiredPythonVersion);
  if (std::strncmp(version, kRequiredPythonVersion, required) != 0) return false;
  if (version[required] != '\0' && version[required] != '.') return false;

  char executable[kPathSize];
  if (!joinPath(executable, sizeof executable, slotFolder, kRuntimeExeName)) return false;
  if (!isRegularFile(platform, executable)) return false;
  if (!copyInto(pythonPath, pythonPathSize, executable) || !copyInto(home, homeSize, slotFolder)) {
    clear(pythonPath, pythonPathSize);
    clear(home, homeSize);
    return false;
  }
  return true;
}

bool installerUrlForSlot(const char* address, const char* slot, char* out, std::size_t size) {
  if (out == nullptr || size == 0) return false;
  out[0] = '\0';
  if (address == nullptr) address = "";
  if (slot == nullptr) slot = "";
  // Dev builds are never downloaded.
  const char* suffix = std::strrchr(slot, '-');
  if (suffix != nullptr && std::strcmp(suffix, "-dev") == 0) return false;

  constexpr char kSegment[] = "/runtime-";
  const char* segment = std::strstr(address, kSegment);
  const char* rest = segment != nullptr ? std::strchr(segment + sizeof kSegment - 1, '/') : nullptr;
  if (rest != nullptr && slot[0] != '\0') {
    formatInto(out, size, "%.*s/runtime-%s%s", static_cast<int>(segment - address), address, slot,
               rest);
  } else {
    copyInto(out, size, address);
  }
  return true;
}

bool startedFromArchive(const char* path) {
  if (path == nullptr) return false;
  const char* start = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p != '\\' && *p != '/') continue;
    const std::size_t length = static_cast<std::size_t>(p - start);
    if (length > 0 && length < kArchiveComponentLimit && isArchiveFolder(start, length)) {
      return true;
    }
    start = p + 1;
  }
  return false;
}

bool formatArchiveMessage(char* out, std::size_t size, const char* displayName,
                          const char* launcherFileName) {
  return formatInto(out, size, kArchiveMessageFormat, displayName, launcherFileName);
}

}  // namespace vantle
