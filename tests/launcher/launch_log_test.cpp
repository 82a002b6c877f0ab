// The launch log: where it goes, how it is created, how its last line is read
// back, and the explanation shown for a failed run.
#include "launcher/launch_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "launcher/text.h"
#include "tests/launcher/world.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vantle {
namespace {

constexpr char kDisplayName[] = "VANTLE Reda";
constexpr char kProductName[] = "VantleCast";
constexpr char kHeader[] =
    "VANTLE Reda 2.0.0 launcher: C:\\app\\_internal\\pythonw.exe -m vantle.apps.podcasts";

class LaunchLogTest : public WorldTest {
 protected:
  // The chosen path relative to the root ("" for none).
  std::string chosen(const std::string& appLocalDir) {
    char out[kPathSize] = "stale";
    const bool ok =
        chooseLaunchLogPath(world->platform(), appLocalDir.c_str(), kProductName, out, sizeof out);
    EXPECT_EQ(ok, out[0] != '\0');
    const std::string path = out;
    if (path.empty()) return path;
    EXPECT_EQ(path.compare(0, world->root().size() + 1, world->root() + "\\"), 0) << path;
    return path.substr(world->root().size() + 1);
  }

  std::string lastLine(const std::string& content, const char* header = kHeader) {
    const std::string log = world->path("launch.log");
    world->makeFile(log, content);
    char out[kLogLineLength + 1] = "stale";
    EXPECT_TRUE(lastLogLine(world->platform(), log.c_str(), header, out, sizeof out));
    return out;
  }
};

TEST_P(LaunchLogTest, LocationsInOrder) {
  struct Case {
    bool appLocal;        // an application-local copy
    FileKind data;        // what app\data is
    const char* appData;  // nullptr: unset
    const char* temp;
    const char* chosen;  // relative to the root
  };
  const Case cases[] = {
      {true, FileKind::directory, "roaming", "temp", "app\\data\\logs\\launch.log"},
      {true, FileKind::absent, "roaming", "temp", "roaming\\Vantle\\logs\\VantleCast-launch.log"},
      {true, FileKind::file, "roaming", "temp", "roaming\\Vantle\\logs\\VantleCast-launch.log"},
      {false, FileKind::directory, "roaming", "temp",
       "roaming\\Vantle\\logs\\VantleCast-launch.log"},
      {true, FileKind::absent, nullptr, "temp", "temp\\VantleCast-launch.log"},
      {true, FileKind::absent, "", "temp", "temp\\VantleCast-launch.log"},
      {true, FileKind::absent, nullptr, nullptr, ""},
      {false, FileKind::absent, "", "", ""},
  };
  for (const Case& c : cases) {
    freshWorld();
    const std::string app = world->path("app");
    world->makeFolder(app);
    if (c.data == FileKind::directory) world->makeFolder(app + "\\data");
    if (c.data == FileKind::file) world->makeFile(app + "\\data", "not a folder");
    auto set = [&](const char* name, const char* value) {
      if (value == nullptr || value[0] == '\0') {
        world->setEnv(name, value);
      } else {
        world->setEnv(name, world->path(value).c_str());
      }
    };
    set("APPDATA", c.appData);
    set("TEMP", c.temp);
    EXPECT_EQ(chosen(c.appLocal ? app : ""), c.chosen) << c.chosen;
    // Choosing creates nothing, the data folder least of all.
    EXPECT_EQ(world->kind(app + "\\data"), c.data);
    EXPECT_EQ(world->kind(app + "\\data\\logs"), FileKind::absent);
    EXPECT_EQ(world->kind(world->path("roaming\\Vantle")), FileKind::absent);
  }
}

TEST_P(LaunchLogTest, APathThatDoesNotFitIsSkippedNotCut) {
  world->setEnv("APPDATA", world->path("roaming").c_str());
  world->setEnv("TEMP", world->path("t").c_str());
  const std::string tempLog = world->path("t\\VantleCast-launch.log");
  char out[kPathSize];
  // Room for the TEMP path but not for the longer APPDATA one.
  ASSERT_TRUE(chooseLaunchLogPath(world->platform(), "", kProductName, out, tempLog.size() + 1));
  EXPECT_EQ(out, tempLog);
  EXPECT_FALSE(chooseLaunchLogPath(world->platform(), "", kProductName, out, tempLog.size()));
  EXPECT_STREQ(out, "");
}

TEST_P(LaunchLogTest, AnEnvironmentValueTooLongForItsBufferIsNotUsed) {
  // The platform's contract at the limit: a value of size - 1 bytes fits.
  char value[8];
  world->setEnv("APPDATA", "1234567");
  EXPECT_EQ(world->platform().getEnv("APPDATA", value, sizeof value), 7u);
  EXPECT_STREQ(value, "1234567");
  world->setEnv("APPDATA", "12345678");
  EXPECT_GE(world->platform().getEnv("APPDATA", value, sizeof value), sizeof value);
  EXPECT_STREQ(value, "");

  world->setEnv("APPDATA", (world->path("roaming") + std::string(kPathSize, 'x')).c_str());
  world->setEnv("TEMP", world->path("t").c_str());
  EXPECT_EQ(chosen(""), "t\\VantleCast-launch.log");
}

TEST_P(LaunchLogTest, OpenCreatesTheFoldersAndWritesTheHeaderLine) {
  struct Case {
    const char* existing;  // folder present before
    const char* log;
    const char* header;
  };
  const Case cases[] = {
      {"app\\data", "app\\data\\logs\\launch.log", kHeader},
      {"roaming", "roaming\\Vantle\\logs\\VantleCast-launch.log", kHeader},
      {"temp", "temp\\VantleCast-launch.log", "header"},
      {"temp", "temp\\VantleCast-launch.log", ""},
  };
  for (const Case& c : cases) {
    freshWorld();
    world->makeFolder(world->path(c.existing));
    const std::string log = world->path(c.log);
    world->makeFile(log, "what an earlier run wrote\n");  // replaced, not appended to
    const FileHandle file = openLaunchLog(world->platform(), log.c_str(), c.header);
    ASSERT_NE(file, invalidFileHandle()) << c.log;
    world->platform().closeFile(file);
    std::string content;
    ASSERT_TRUE(world->readBack(log, content)) << c.log;
    EXPECT_EQ(content, c.header[0] != '\0' ? std::string(c.header) + "\n" : "") << c.log;
  }

  freshWorld();
  world->makeFolder(world->path("roaming"));
  const std::string log = world->path("roaming\\Vantle\\logs\\VantleCast-launch.log");
  const FileHandle file = openLaunchLog(world->platform(), log.c_str(), kHeader);
  ASSERT_NE(file, invalidFileHandle());
  world->platform().closeFile(file);
  EXPECT_EQ(world->kind(world->path("roaming\\Vantle\\logs")), FileKind::directory);
  std::string content;
  ASSERT_TRUE(world->readBack(log, content));
  EXPECT_EQ(content, std::string(kHeader) + "\n");
}

TEST_P(LaunchLogTest, OpenFailsWithoutAPathOrAPlaceForTheFile) {
  EXPECT_EQ(openLaunchLog(world->platform(), "", kHeader), invalidFileHandle());
  // Under a file no folder can be made.
  world->makeFile(world->path("blocked"), "a file");
  const std::string log = world->path("blocked\\logs\\launch.log");
  EXPECT_EQ(openLaunchLog(world->platform(), log.c_str(), kHeader), invalidFileHandle());
  // The log's own name taken by a folder.
  world->makeFolder(world->path("taken\\launch.log"));
  const std::string taken = world->path("taken\\launch.log");
  EXPECT_EQ(openLaunchLog(world->platform(), taken.c_str(), kHeader), invalidFileHandle());
}

TEST_P(LaunchLogTest, LastLine) {
  struct Case {
    std::string content;
    std::string line;
  };
  const std::string header = kHeader;
  const Case cases[] = {
      {header + "\n", ""},
      {"  " + header + " \r\n\r\n", ""},
      {header + "\r\nTraceback (most recent call last):\r\n  File \"x.py\", line 1\r\n"
                "ModuleNotFoundError: No module named 'x'\r\n\r\n",
       "ModuleNotFoundError: No module named 'x'"},
      {header + "\nfirst\n\t second \t\n \x0b\x0c\r\n", "second"},
      {header + "\nsaid something\n" + header + "\n", "said something"},
      {header + "\nno line feed at the end", "no line feed at the end"},
      {header + "\n" + std::string(350, 'a') + "\n", std::string(300, 'a')},
      {header + "\n   " + std::string(299, 'b') + " c\n", std::string(299, 'b') + " "},
      {"", ""},
      {"\n\n\n", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lastLine(c.content), c.line) << c.content;
  }
}

TEST_P(LaunchLogTest, HeaderIsComparedInItsCutForm) {
  const std::string longHeader = std::string(300, 'h') + "X";
  EXPECT_EQ(lastLine(longHeader + "\n" + std::string(300, 'h') + "Y\n", longHeader.c_str()), "");
  EXPECT_EQ(lastLine("\t" + longHeader + "\n", longHeader.c_str()), "");
  EXPECT_EQ(lastLine(longHeader + "\n" + std::string(299, 'h') + "\n", longHeader.c_str()),
            std::string(299, 'h'));
}

TEST_P(LaunchLogTest, OnlyTheLast8192BytesAreSearched) {
  // Exactly 8192 bytes: the first byte is still in the window.
  EXPECT_EQ(lastLine("E" + std::string(8191, '\n')), "E");
  // One byte more and the window starts at the second byte.
  EXPECT_EQ(lastLine("EF" + std::string(8191, '\n')), "F");
  // An early error with only blank lines after it in the window is not found.
  EXPECT_EQ(lastLine(std::string(kHeader) + "\nearly error\n" + std::string(9000, '\n')), "");
  // The window's first piece may be the tail of a longer line.
  EXPECT_EQ(lastLine(std::string(kHeader) + "\nhead of a long line" + std::string(9000, 'x') +
                     "\n" + std::string(100, ' ')),
            std::string(300, 'x'));
  // A long log with its last line near the end.
  std::string longLog = std::string(kHeader) + "\n";
  while (longLog.size() < 100000) longLog += "INFO: working on item\n";
  EXPECT_EQ(lastLine(longLog + "RuntimeError: out of items\n"), "RuntimeError: out of items");
}

TEST_P(LaunchLogTest, LastLineFailsOrCutsAtTheBuffer) {
  char out[8] = "stale";
  EXPECT_FALSE(
      lastLogLine(world->platform(), world->path("missing.log").c_str(), kHeader, out, sizeof out));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(lastLogLine(world->platform(), "", kHeader, out, sizeof out));
  const std::string log = world->path("launch.log");
  world->makeFile(log, "abcdefghij\n");
  EXPECT_FALSE(lastLogLine(world->platform(), log.c_str(), kHeader, out, 0));
  EXPECT_TRUE(lastLogLine(world->platform(), log.c_str(), kHeader, out, sizeof out));
  EXPECT_STREQ(out, "abcdefg");
}

// The texts the user reads, typed out here on their own.
constexpr char kMemoryFault[] =
    "It crashed inside a component (a memory fault), not in its own code.";
constexpr char kMissingHint[] =
    " Part of the program is missing: this copy is incomplete, or its files are mixed with "
    "another version's. Extract the whole zip again into an empty folder.";
constexpr char kDllHint[] =
    " A component could not be loaded. Check the antivirus quarantine, and extract the whole zip "
    "again, keeping every file together.";
constexpr char kPermissionHint[] =
    " It is not allowed to write where it is. Move the folder somewhere you own, such as "
    "Documents, or run it from a different drive.";

std::string withLog(const std::string& headline, const std::string& explanation,
                    const std::string& logPath) {
  return headline + "\n\n" + explanation + "\n\nWhat happened was written to:\n" + logPath +
         "\n\nIf it keeps happening, send that file to support@example.com.";
}

std::string withoutLog(const std::string& headline, const std::string& explanation) {
  return headline + "\n\n" + explanation +
         "\n\nNo launch log could be written. If it keeps happening, write to "
         "support@example.com.";
}

TEST_P(LaunchLogTest, ExplanationByExitCodeAndLastLine) {
  struct Case {
    std::uint32_t code;
    std::string lastLine;  // what the application wrote last after the header
    std::string explanation;
  };
  const std::string traceback = "Traceback (most recent call last):\nValueError: bad\n";
  const Case cases[] = {
      {0xC0000005u, "ValueError: bad", kMemoryFault},
      {3221225477u, "ValueError: bad", kMemoryFault},
      {0xC0000374u, "", kMemoryFault},
      {0xC0000409u, "", kMemoryFault},
      {0xC0000022u, "",
       "Windows refused to run its files. Antivirus, application control or a folder permission "
       "is blocking it. Try extracting it to a folder of your own, such as Documents, and check "
       "the antivirus quarantine."},
      {0xC000007Bu, "",
       "A file in its folder is damaged, or is the wrong kind for this computer (VANTLE Reda "
       "needs 64-bit Windows). Download and extract it again."},
      {0xC0000135u, "ModuleNotFoundError: No module named 'x'",
       "A file it needs is missing (Windows reported that a DLL could not be found). If this is "
       "a portable copy, extract the whole zip again, keeping every file together, and check "
       "whether antivirus quarantined a file from its folder."},
      {0xC0000142u, "",
       "A file it needs could not be started (a DLL failed to initialise). Sign out of Windows "
       "and back in, or restart the computer, then try again."},
      {1, "ModuleNotFoundError: No module named 'x'",
       std::string("Python reported: ModuleNotFoundError: No module named 'x'") + kMissingHint},
      {1,
       "ImportError: DLL load failed while importing _core: The specified module could not "
       "be found.",
       std::string("Python reported: ImportError: DLL load failed while importing _core: The "
                   "specified module could not be found.") +
           kDllHint},
      {1, "PermissionError: [Errno 13] Permission denied: 'C:\\\\x'",
       std::string("Python reported: PermissionError: [Errno 13] Permission denied: "
                   "'C:\\\\x'") +
           kPermissionHint},
      {1, "OSError: Permission denied",
       std::string("Python reported: OSError: Permission denied") + kPermissionHint},
      {1, "PermissionError", std::string("Python reported: PermissionError") + kPermissionHint},
      // The first matching test picks the hint.
      {1, "DLL load failed: No module named x; Permission denied",
       std::string("Python reported: DLL load failed: No module named x; Permission denied") +
           kMissingHint},
      {1, "permissionerror: permission Denied",
       "Python reported: permissionerror: permission Denied"},
      {2, "RuntimeError: boom", "Python reported: RuntimeError: boom"},
      {1, "", "It exited with code 1 and left no message."},
      {0xC0000006u, "", "It exited with code 3221225478 and left no message."},
      {0xFFFFFFFFu, "", "It exited with code 4294967295 and left no message."},
  };
  for (const Case& c : cases) {
    freshWorld();
    const std::string log = world->path("launch.log");
    world->makeFile(log, std::string(kHeader) + "\n" +
                             (c.lastLine.empty() ? "" : traceback + c.lastLine + "\r\n"));
    explainFailure(world->platform(), kDisplayName, c.code, 1500, log.c_str(), kHeader);
    const std::string expected = withLog("VANTLE Reda did not start.", c.explanation, log);
    ASSERT_EQ(world->boxes().size(), 1u);
    EXPECT_EQ(world->boxes()[0].caption, kDisplayName);
    EXPECT_EQ(world->boxes()[0].text, expected) << c.code;
    EXPECT_EQ(world->errorOutput(), "VANTLE Reda: " + expected + "\n");
  }
}

TEST_P(LaunchLogTest, HeadlineByRunTimeAndBothMessageForms) {
  struct Case {
    std::uint64_t runTimeMs;
    const char* headline;
  };
  const Case cases[] = {
      {0, "VANTLE Reda did not start."},
      {59999, "VANTLE Reda did not start."},
      {60000, "VANTLE Reda stopped unexpectedly."},
      {60001, "VANTLE Reda stopped unexpectedly."},
      {0xFFFFFFFFFFFFull, "VANTLE Reda stopped unexpectedly."},
  };
  const std::string noMessage = "It exited with code 7 and left no message.";
  for (const Case& c : cases) {
    freshWorld();
    const std::string log = world->path("launch.log");
    world->makeFile(log, std::string(kHeader) + "\n");
    explainFailure(world->platform(), kDisplayName, 7, c.runTimeMs, log.c_str(), kHeader);
    explainFailure(world->platform(), kDisplayName, 7, c.runTimeMs, "", kHeader);
    ASSERT_EQ(world->boxes().size(), 2u);
    EXPECT_EQ(world->boxes()[0].text, withLog(c.headline, noMessage, log)) << c.runTimeMs;
    EXPECT_EQ(world->boxes()[1].text, withoutLog(c.headline, noMessage)) << c.runTimeMs;
  }
}

TEST_P(LaunchLogTest, UnreadableLogFallsBackToTheExitCode) {
  const std::string log = world->path("never-written.log");
  explainFailure(world->platform(), kDisplayName, 1, 100, log.c_str(), kHeader);
  ASSERT_EQ(world->boxes().size(), 1u);
  EXPECT_EQ(world->boxes()[0].text, withLog("VANTLE Reda did not start.",
                                            "It exited with code 1 and left no message.", log));
}

TEST_P(LaunchLogTest, WrittenLogIsReadBackAfterTheApplicationWrote) {
  // The whole round: choose, open, the application appends, explain.
  world->makeFolder(world->path("app\\data"));
  char path[kPathSize];
  ASSERT_TRUE(chooseLaunchLogPath(world->platform(), world->path("app").c_str(), kProductName, path,
                                  sizeof path));
  const FileHandle file = openLaunchLog(world->platform(), path, kHeader);
  ASSERT_NE(file, invalidFileHandle());
  const std::string output =
      "Traceback (most recent call last):\r\n"
      "ModuleNotFoundError: No module named 'vantle.apps'\r\n";
  ASSERT_TRUE(world->platform().writeFile(file, output.data(), output.size()));
  // The application may still hold the log open while it is read back.
  explainFailure(world->platform(), kDisplayName, 1, 61000, path, kHeader);
  world->platform().closeFile(file);
  ASSERT_EQ(world->boxes().size(), 1u);
  EXPECT_EQ(world->boxes()[0].text,
            withLog("VANTLE Reda stopped unexpectedly.",
                    std::string("Python reported: ModuleNotFoundError: No module named "
                                "'vantle.apps'") +
                        kMissingHint,
                    path));
}

INSTANTIATE_TEST_SUITE_P(Worlds, LaunchLogTest, ::testing::ValuesIn(worldKinds()), worldName);

// What only the in-memory platform can show.

TEST(LaunchLogFake, FoldersAreCreatedOneLevelAtATimeSkippingTheDrive) {
  FakePlatform fake;
  fake.addFolder("C:\\Users\\u");
  const FileHandle file = openLaunchLog(
      fake, "C:\\Users\\u\\AppData\\Roaming\\Vantle\\logs\\VantleCast-launch.log", "h");
  ASSERT_NE(file, invalidFileHandle());
  const std::vector<std::string> expected = {
      "C:\\Users",
      "C:\\Users\\u",
      "C:\\Users\\u\\AppData",
      "C:\\Users\\u\\AppData\\Roaming",
      "C:\\Users\\u\\AppData\\Roaming\\Vantle",
      "C:\\Users\\u\\AppData\\Roaming\\Vantle\\logs",
  };
  EXPECT_EQ(fake.folderRequests, expected);

  // Only "\" separates folders.
  fake.folderRequests.clear();
  fake.addFolder("C:\\a/b");
  openLaunchLog(fake, "C:\\a/b\\launch.log", "h");
  EXPECT_EQ(fake.folderRequests, (std::vector<std::string>{"C:\\a/b"}));
}

TEST(LaunchLogFake, FinalMessageIsCutToItsBuffer) {
  FakePlatform fake;
  const std::string log = "C:\\" + std::string(4000, 'l') + "\\launch.log";
  fake.addFile(log, std::string(kHeader) + "\nValueError: " + std::string(400, 'v') + "\n");
  explainFailure(fake, kDisplayName, 1, 0, log.c_str(), kHeader);
  ASSERT_EQ(fake.boxes.size(), 1u);
  const std::string line = "ValueError: " + std::string(288, 'v');
  const std::string full = withLog("VANTLE Reda did not start.", "Python reported: " + line, log);
  EXPECT_EQ(fake.boxes[0].text, full.substr(0, 4095));
}

#ifdef _WIN32
TEST(LaunchLogWin32, TheLogHandleIsInheritable) {
  auto world = makeWorld("win32");
  const std::string log = world->path("launch.log");
  const FileHandle file = openLaunchLog(world->platform(), log.c_str(), kHeader);
  ASSERT_NE(file, invalidFileHandle());
  DWORD flags = 0;
  ASSERT_TRUE(GetHandleInformation(static_cast<HANDLE>(file), &flags));
  EXPECT_NE(flags & HANDLE_FLAG_INHERIT, 0u);
  world->platform().closeFile(file);
}
#endif

}  // namespace
}  // namespace vantle
