// Path joining, the last-component removal, the installer address for a slot
// and the archive test: pure text decisions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "launcher/runtime.h"
#include "launcher/text.h"

#ifdef _WIN32
#include "launcher/platform_win32.h"
#endif

namespace vantle {
namespace {

TEST(JoinPath, JoinsWithOneBackslash) {
  struct Case {
    const char* folder;
    const char* name;
    const char* joined;
  };
  const Case cases[] = {
      {"C:\\app", "python.exe", "C:\\app\\python.exe"},
      {"C:\\app\\", "python.exe", "C:\\app\\python.exe"},
      {"C:/app/", "python.exe", "C:/app/python.exe"},
      {"C:/app", "python.exe", "C:/app\\python.exe"},
      {"", "python.exe", "python.exe"},
      {"C:\\app", "_internal\\python.exe", "C:\\app\\_internal\\python.exe"},
  };
  for (const Case& c : cases) {
    char out[kPathSize];
    EXPECT_TRUE(joinPath(out, sizeof out, c.folder, c.name)) << c.folder;
    EXPECT_STREQ(out, c.joined) << c.folder;
  }
}

TEST(JoinPath, ReportsAPathThatDoesNotFitAndStillTerminates) {
  // "C:\a\b" needs 7 bytes with its terminator.
  char out[7];
  EXPECT_TRUE(joinPath(out, 7, "C:\\a", "b"));
  EXPECT_STREQ(out, "C:\\a\\b");
  std::memset(out, 'x', sizeof out);
  EXPECT_FALSE(joinPath(out, 6, "C:\\a", "b"));
  EXPECT_STREQ(out, "C:\\a\\");
  EXPECT_FALSE(joinPath(out, 3, "", "abc"));
  EXPECT_STREQ(out, "ab");
}

struct FileSpecCase {
  const char* path;
  bool removed;
  const char* result;
};

const FileSpecCase kFileSpecCases[] = {
    {"C:\\Program Files\\Vantle\\VantleCast.exe", true, "C:\\Program Files\\Vantle"},
    {"C:\\VantleCast.exe", true, "C:\\"},
    {"C:\\", false, "C:\\"},
    {"C:\\app\\", true, "C:\\app"},
    {"VantleCast.exe", true, ""},
    {"\\VantleCast.exe", true, "\\"},
    {"\\\\server\\share\\VantleCast.exe", true, "\\\\server\\share"},
    {"", false, ""},
};

TEST(RemoveFileSpec, CutsTheLastComponentLikeTheShell) {
  for (const FileSpecCase& c : kFileSpecCases) {
    char path[kPathSize];
    copyInto(path, sizeof path, c.path);
    EXPECT_EQ(removeFileSpecPortable(path), c.removed) << c.path;
    EXPECT_STREQ(path, c.result) << c.path;
  }
}

#ifdef _WIN32
TEST(RemoveFileSpec, WindowsShellAgreesWithThePortableForm) {
  for (const FileSpecCase& c : kFileSpecCases) {
    char path[kPathSize];
    copyInto(path, sizeof path, c.path);
    EXPECT_EQ(win32Platform().removeFileSpec(path), c.removed) << c.path;
    EXPECT_STREQ(path, c.result) << c.path;
  }
}
#endif

constexpr char kAddress[] =
    "https://downloads.example.com/korvane/releases/download/runtime-3.14/"
    "Korvane-Runtime-Setup.exe";

TEST(InstallerUrlForSlot, RewritesTheRuntimeSegmentForTheSlot) {
  struct Case {
    const char* address;
    const char* slot;
    bool done;
    const char* url;
  };
  const Case cases[] = {
      {kAddress, "", true, kAddress},
      {kAddress, nullptr, true, kAddress},
      {kAddress, "3.14-beta", true,
       "https://downloads.example.com/korvane/releases/download/runtime-3.14-beta/"
       "Korvane-Runtime-Setup.exe"},
      {kAddress, "3.15", true,
       "https://downloads.example.com/korvane/releases/download/runtime-3.15/"
       "Korvane-Runtime-Setup.exe"},
      // Dev builds are never downloaded; only the exact suffix counts.
      {kAddress, "3.14-dev", false, ""},
      {kAddress, "3.14-Dev", true,
       "https://downloads.example.com/korvane/releases/download/runtime-3.14-Dev/"
       "Korvane-Runtime-Setup.exe"},
      {kAddress, "3.14-dev-beta", true,
       "https://downloads.example.com/korvane/releases/download/runtime-3.14-dev-beta/"
       "Korvane-Runtime-Setup.exe"},
      // Without a "/runtime-" segment followed by a "/" the address stays.
      {"https://example.com/setup.exe", "3.14-beta", true, "https://example.com/setup.exe"},
      {"https://example.com/runtime-3.14", "3.14-beta", true, "https://example.com/runtime-3.14"},
  };
  for (const Case& c : cases) {
    char out[1024] = "stale";
    EXPECT_EQ(installerUrlForSlot(c.address, c.slot, out, sizeof out), c.done) << c.slot;
    EXPECT_STREQ(out, c.url) << (c.slot ? c.slot : "(null)");
  }
}

TEST(InstallerUrlForSlot, RefusesWithoutABufferAndCutsToTheBuffer) {
  char out[16] = "stale";
  EXPECT_FALSE(installerUrlForSlot(kAddress, "3.14", nullptr, 16));
  EXPECT_FALSE(installerUrlForSlot(kAddress, "3.14", out, 0));
  EXPECT_STREQ(out, "stale");
  EXPECT_TRUE(installerUrlForSlot(kAddress, "3.14-beta", out, sizeof out));
  EXPECT_STREQ(out, "https://downloa");
}

TEST(StartedFromArchive, RecognisesExtractionFolders) {
  struct Case {
    const char* path;
    bool archive;
  };
  const std::string longRar(508, 'x');
  const std::string rar511 = "C:\\t\\Rar$" + std::string(507, 'x') + "\\VantleCast.exe";
  const std::string rar512 = "C:\\t\\Rar$" + longRar + "\\VantleCast.exe";
  const Case cases[] = {
      {"C:\\Users\\u\\AppData\\Local\\Temp\\Temp1_app.zip\\VantleCast.exe", true},
      {"C:\\Users\\u\\AppData\\Local\\Temp\\7zO4A2B\\VantleCast.exe", true},
      {"C:\\Users\\u\\AppData\\Local\\Temp\\Rar$EXa12.3456\\VantleCast.exe", true},
      {"C:\\Users\\u\\AppData\\Local\\Temp\\Temp1_app.zip\\app\\VantleCast.exe", true},
      {"c:/temp/TEMP12_My App.ZIP/VantleCast.exe", true},
      {"C:\\x\\7ZOab12\\VantleCast.exe", true},
      {"C:\\x\\rar$\\VantleCast.exe", true},
      {rar511.c_str(), true},
      // Near misses.
      {"C:\\Users\\u\\AppData\\Local\\Temp\\Temp_app.zip\\VantleCast.exe", false},
      {"C:\\Users\\u\\AppData\\Local\\Temp\\7zO\\VantleCast.exe", false},
      {"C:\\x\\Temp1app.zip\\VantleCast.exe", false},
      {"C:\\x\\Temp1_app.zipx\\VantleCast.exe", false},
      {"C:\\x\\Temp1_app.zi\\VantleCast.exe", false},
      {"C:\\x\\MyTemp1_app.zip\\VantleCast.exe", false},
      {"C:\\x\\7zO4A-2B\\VantleCast.exe", false},
      {"C:\\x\\Rar\\VantleCast.exe", false},
      {"C:\\x\\Ra$r\\VantleCast.exe", false},
      {"C:\\Users\\u\\Downloads\\VantleCast\\VantleCast.exe", false},
      // The file name itself is never examined, nor a folder of 512 characters.
      {"C:\\x\\Temp1_app.zip", false},
      {"C:\\x\\7zO4A2B", false},
      {"Rar$x", false},
      {rar512.c_str(), false},
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(startedFromArchive(c.path), c.archive) << c.path;
  }
  EXPECT_FALSE(startedFromArchive(nullptr));
}

TEST(ArchiveMessage, NamesTheProgramAndTheLauncherFile) {
  char out[kMessageSize];
  EXPECT_TRUE(formatArchiveMessage(out, sizeof out, "VANTLE Reda", "VantleCast.exe"));
  EXPECT_STREQ(out,
               "VANTLE Reda was opened from inside the zip file, so Windows copied only that one "
               "file out and left the rest of the program behind.\n\nExtract the whole zip first: "
               "select it in File Explorer, press the Applications key, choose Extract All, and "
               "choose a folder. Then open VantleCast.exe in the extracted folder.");
}

}  // namespace
}  // namespace vantle
