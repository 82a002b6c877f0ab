#include "launcher/main_flow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/text.h"
#include "tests/launcher/fake_platform.h"

namespace {

using vantle::FakePlatform;

std::string preferred(FakePlatform& platform, const std::string& path) {
  char buffer[vantle::kPathSize];
  vantle::copyInto(buffer, sizeof(buffer), path.c_str());
  vantle::preferWindowlessInterpreter(platform, buffer);
  return buffer;
}

TEST(PreferWindowlessInterpreter, OnlyAnExistingPythonwBesidePythonExe) {
  FakePlatform platform;
  platform.addFile("C:\\app\\_internal\\python.exe", "");
  platform.addFile("C:\\app\\_internal\\pythonw.exe", "");
  platform.addFile("C:\\CAPS\\PYTHON.EXE", "");
  platform.addFile("C:\\CAPS\\pythonw.exe", "");
  platform.addFile("C:\\alone\\python.exe", "");
  platform.addFile("C:\\dir\\python.exe", "");
  platform.addFolder("C:\\dir\\pythonw.exe");
  platform.addFile("C:\\rt\\3.14\\KorvaneRuntime.exe", "");
  platform.addFile("C:\\rt\\3.14\\pythonw.exe", "");
  platform.addFile("C:\\fwd\\pythonw.exe", "");

  const struct {
    const char* path;
    const char* expected;
  } cases[] = {
      {"C:\\app\\_internal\\python.exe", "C:\\app\\_internal\\pythonw.exe"},
      {"C:\\CAPS\\PYTHON.EXE", "C:\\CAPS\\pythonw.exe"},   // matched without case
      {"C:\\alone\\python.exe", "C:\\alone\\python.exe"},  // no pythonw.exe
      {"C:\\dir\\python.exe", "C:\\dir\\python.exe"},      // pythonw.exe is a folder
      {"C:\\rt\\3.14\\KorvaneRuntime.exe", "C:\\rt\\3.14\\KorvaneRuntime.exe"},
      {"C:\\fwd/python.exe", "C:\\fwd/python.exe"},  // only "\" counts here
      {"python.exe", "python.exe"},                  // too short for "\python.exe"
  };
  for (const auto& c : cases) {
    EXPECT_EQ(preferred(platform, c.path), c.expected) << c.path;
  }
}

TEST(LauncherPaths, FolderAndFileNameCutAtTheLastSeparatorOfEitherKind) {
  const struct {
    const char* path;
    bool hasFolder;
    const char* folder;
    const char* fileName;
  } cases[] = {
      {"C:\\Apps\\Vantle\\VantleCast.exe", true, "C:\\Apps\\Vantle", "VantleCast.exe"},
      {"C:\\a/b\\VantleCast.exe", true, "C:\\a/b", "VantleCast.exe"},
      {"C:\\a\\b/VantleCast.exe", true, "C:\\a\\b", "VantleCast.exe"},
      {"VantleCast.exe", false, "", "VantleCast.exe"},
      {"C:\\", true, "C:", ""},
  };
  for (const auto& c : cases) {
    char folder[vantle::kPathSize] = "junk";
    EXPECT_EQ(vantle::folderOf(c.path, folder, sizeof(folder)), c.hasFolder) << c.path;
    EXPECT_STREQ(folder, c.folder) << c.path;
    EXPECT_STREQ(vantle::fileNameOf(c.path), c.fileName) << c.path;
  }
}

TEST(NoRuntimeMessage, ArchiveCopiesGetTheExtractAdvice) {
  char message[vantle::kMessageSize];
  vantle::formatNoRuntimeMessage(
      "C:\\Users\\u\\AppData\\Local\\Temp\\Temp1_app.zip\\VantleCast.exe", message,
      sizeof(message));
  const std::string archive = message;
  EXPECT_EQ(archive.find("VANTLE Reda was opened from inside the zip file"), 0u) << archive;
  EXPECT_NE(archive.find("Then open VantleCast.exe in the extracted folder."), std::string::npos);

  vantle::formatNoRuntimeMessage("C:\\Apps\\Vantle\\VantleCast.exe", message, sizeof(message));
  EXPECT_STREQ(message,
               "VANTLE Reda could not find a Python runtime.\n\nPlease reinstall VANTLE Reda. The "
               "application will now exit.");
}

TEST(ReportError, StandardErrorLineThenBoxCaptionedWithTheDisplayName) {
  FakePlatform platform;
  vantle::reportError(platform, "Could not determine install location.");
  EXPECT_EQ(platform.errorOutput, "VANTLE Reda: Could not determine install location.\n");
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.boxes[0].caption, "VANTLE Reda");
  EXPECT_EQ(platform.boxes[0].text, "Could not determine install location.");
}

// ---- The whole flow on the in-memory platform --------------------------

using Calls = std::vector<std::string>;

const char kLauncher[] = "C:\\Apps\\Vantle\\VantleCast.exe";
const char kPython[] = "C:\\Apps\\Vantle\\_internal\\python.exe";
const char kRoaming[] = "C:\\Users\\u\\AppData\\Roaming";
const char kLog[] = "C:\\Users\\u\\AppData\\Roaming\\Vantle\\logs\\VantleCast-launch.log";
const char kCouldNotStart[] =
    "VANTLE Reda could not start Python.\n\nPython path: "
    "C:\\Apps\\Vantle\\_internal\\python.exe\n\nPlease reinstall VANTLE Reda.";
const char kNoRuntime[] =
    "VANTLE Reda could not find a Python runtime.\n\nPlease reinstall VANTLE Reda. The "
    "application will now exit.";
const char kNoJob[] =
    "VANTLE Reda: the application runs outside the launcher's job, so programs it leaves running "
    "will not be closed when it ends.\n";

// A launcher with an application-local interpreter and a roaming folder for
// its log.
struct Machine {
  FakePlatform platform;
  std::vector<std::string> arguments = {kLauncher, "two words", "plain"};

  Machine() {
    platform.addFile(kLauncher, "");
    platform.addFile(kPython, "");
    platform.addFolder(kRoaming);
    platform.environment["APPDATA"] = kRoaming;
    platform.environment["LOCALAPPDATA"] = "C:\\Users\\u\\AppData\\Local";
  }
  int run() {
    std::vector<const char*> pointers;
    for (const std::string& a : arguments) pointers.push_back(a.c_str());
    return vantle::runLauncher(platform, static_cast<int>(pointers.size()), pointers.data());
  }
  std::vector<std::string> boxTexts() const {
    std::vector<std::string> out;
    for (const auto& b : platform.boxes) out.push_back(b.text);
    return out;
  }
  std::string log() const {
    const std::string* text = platform.content(kLog);
    return text == nullptr ? "(no log)" : *text;
  }
};

const Calls kWholeRun = {"job",    "start", "assign",        "log closed",
                         "resume", "wait",  "close process", "close job"};

TEST(LauncherFlow, StartsTheApplicationInItsJobWithItsLogAndEnvironment) {
  Machine m;
  m.platform.applicationOutput = "hello\n";
  EXPECT_EQ(m.run(), 0);
  EXPECT_EQ(m.platform.calls, kWholeRun);
  EXPECT_EQ(m.platform.startedProgram, kPython);
  EXPECT_EQ(m.platform.startedCommandLine,
            std::string(kPython) + " -m vantle.apps.podcasts \"two words\" plain");
  EXPECT_EQ(m.platform.startedOutput, kLog);
  const std::vector<std::string> variables = {
      "VANTLE_LAUNCHER_DIR=C:\\Apps\\Vantle", "VANTLE_APP_ROOT=C:\\Apps\\Vantle",
      "VANTLE_PRODUCT_NAME=VantleCast", "VANTLE_PRODUCT_DISPLAY=VANTLE Reda",
      "VANTLE_PRODUCT_VERSION=" VANTLE_VERSION};
  EXPECT_EQ(m.platform.variablesSet, variables);
  EXPECT_EQ(m.platform.startedEnvironment["VANTLE_PRODUCT_NAME"], "VantleCast");
  EXPECT_EQ(m.log(), std::string("VANTLE Reda " VANTLE_VERSION " launcher: ") + kPython +
                         " -m vantle.apps.podcasts\nhello\n");
  EXPECT_TRUE(m.platform.boxes.empty());
  EXPECT_EQ(m.platform.errorOutput, "");
}

// Folder names outside any one code page travel as UTF-8 from the launcher's
// own path to the variables, the log and the application's command line.
TEST(LauncherFlow, AnyFolderNameReachesTheApplicationUnchanged) {
  Machine m;
  const std::string folder = "C:\\Users\\\xd0\x9f\xd1\x91\xd1\x82\xd1\x80 \xe5\xba\x94\xe7\x94\xa8";
  m.platform.ownPath = folder + "\\VantleCast.exe";
  m.platform.addFile(folder + "\\VantleCast.exe", "");
  m.platform.addFile(folder + "\\python.exe", "");
  m.platform.addFolder(folder + "\\data");
  m.arguments.push_back("\xe6\x97\xa5\xe6\x9c\xac");
  EXPECT_EQ(m.run(), 0);
  EXPECT_EQ(m.platform.startedProgram, folder + "\\python.exe");
  EXPECT_EQ(
      m.platform.startedCommandLine,
      "\"" + folder +
          "\\python.exe\" -m vantle.apps.podcasts \"two words\" plain \xe6\x97\xa5\xe6\x9c\xac");
  EXPECT_EQ(m.platform.startedEnvironment["VANTLE_LAUNCHER_DIR"], folder);
  EXPECT_EQ(m.platform.startedEnvironment["VANTLE_PORTABLE"], "1");
  EXPECT_EQ(m.platform.startedOutput, folder + "\\data\\logs\\launch.log");
}

// Without a job the application still runs: the user asked for it. What it
// leaves running may then outlive it, and standard error and the log say so.
TEST(LauncherFlow, AJobThatCannotBeMadeOrJoinedIsToldNotIgnored) {
  const struct {
    bool jobFails;
    bool assignFails;
    Calls calls;
  } cases[] = {
      {true, false, {"job", "start", "log closed", "resume", "wait", "close process"}},
      {false, true, kWholeRun},
  };
  for (const auto& c : cases) {
    Machine m;
    m.platform.jobFails = c.jobFails;
    m.platform.assignFails = c.assignFails;
    EXPECT_EQ(m.run(), 0);
    EXPECT_EQ(m.platform.calls, c.calls);
    EXPECT_EQ(m.platform.errorOutput, kNoJob);
    EXPECT_NE(m.log().find(kNoJob), std::string::npos) << m.log();
    EXPECT_TRUE(m.platform.boxes.empty());
  }
}

TEST(LauncherFlow, EveryFailureToRunIsReportedAndCleanedUp) {
  const struct {
    const char* what;
    void (*arrange)(FakePlatform&);
    int exitCode;
    Calls calls;
    std::string box;
  } cases[] = {
      {"not started",
       [](FakePlatform& p) { p.startFails = true; },
       3,
       {"job", "start", "close job"},
       kCouldNotStart},
      {"not resumed",
       [](FakePlatform& p) { p.resumeFails = true; },
       3,
       {"job", "start", "assign", "log closed", "resume", "terminate", "close process",
        "close job"},
       kCouldNotStart},
      {"variables not set", [](FakePlatform& p) { p.setEnvFails = true; }, 3, {}, kCouldNotStart},
      {"end unknown", [](FakePlatform& p) { p.exitCodeUnreadable = true; }, 1, kWholeRun,
       std::string("VANTLE Reda could not tell how the application ended.\n\nIf something went "
                   "wrong, the launch log may say what:\n") +
           kLog},
      {"own path unknown",
       [](FakePlatform& p) { p.ownPath.clear(); },
       4,
       {},
       "Could not determine install location."},
  };
  for (const auto& c : cases) {
    Machine m;
    c.arrange(m.platform);
    EXPECT_EQ(m.run(), c.exitCode) << c.what;
    EXPECT_EQ(m.platform.calls, c.calls) << c.what;
    EXPECT_EQ(m.boxTexts(), std::vector<std::string>{c.box}) << c.what;
    EXPECT_EQ(m.platform.errorOutput, "VANTLE Reda: " + c.box + "\n") << c.what;
    for (const std::string& open : m.platform.openFiles) EXPECT_EQ(open, "") << c.what;
  }
}

TEST(LauncherFlow, AFailedRunIsExplainedWithItsExitCodePassedOn) {
  Machine m;
  m.platform.applicationExitCode = 3;
  m.platform.applicationRunMs = 2000;
  m.platform.applicationOutput = "ModuleNotFoundError: No module named 'vantle'\n";
  EXPECT_EQ(m.run(), 3);
  ASSERT_EQ(m.platform.boxes.size(), 1u);
  EXPECT_EQ(m.platform.boxes[0].text.find("VANTLE Reda did not start."), 0u);
  EXPECT_NE(m.platform.boxes[0].text.find(kLog), std::string::npos);
}

TEST(LauncherFlow, AMissingRuntimeIsOfferedAndEveryEndOfTheOfferIsTold) {
  const std::string runtime = "C:\\Users\\u\\AppData\\Local\\Korvane\\Runtime\\3.14";
  const struct {
    const char* what;
    vantle::InstallOutcome outcome;
    int exitCode;
    std::vector<std::string> boxes;
    std::string errorOutput;
  } cases[] = {
      {"declined",
       vantle::InstallOutcome::declined,
       2,
       {kNoRuntime},
       std::string("VANTLE Reda: ") + kNoRuntime + "\n"},
      // The download failure has its box only; the no-runtime message follows.
      {"download failed",
       vantle::InstallOutcome::downloadFailed,
       2,
       {"The Korvane Runtime could not be downloaded. Please check your internet connection and "
        "try again, or install the runtime manually from the Korvane releases page.",
        kNoRuntime},
       std::string("VANTLE Reda: ") + kNoRuntime + "\n"},
      {"installer failed",
       vantle::InstallOutcome::notInstalled,
       2,
       {kNoRuntime},
       std::string("VANTLE Reda: ") + kNoRuntime + "\n"},
      {"installed", vantle::InstallOutcome::installed, 0, {}, ""},
  };
  for (const auto& c : cases) {
    Machine m;
    m.platform.nodes.erase(kPython);
    m.platform.installOutcome = c.outcome;
    m.platform.installerInstalls = [&runtime](FakePlatform& p) {
      p.addFile(runtime + "\\KorvaneRuntime.exe", "");
      p.addFile(runtime + "\\korvane-runtime.json", "{\"python\": \"3.14.2\"}");
    };
    EXPECT_EQ(m.run(), c.exitCode) << c.what;
    ASSERT_EQ(m.platform.installOffers.size(), 1u) << c.what;
    EXPECT_NE(m.platform.installOffers[0].find("/runtime-3.14/"), std::string::npos);
    EXPECT_EQ(m.boxTexts(), c.boxes) << c.what;
    EXPECT_EQ(m.platform.errorOutput, c.errorOutput) << c.what;
    if (c.exitCode == 0) {
      EXPECT_EQ(m.platform.startedProgram, runtime + "\\KorvaneRuntime.exe");
    }
  }
}

TEST(LauncherFlow, AnUnreadableCommandLineIsReported) {
  FakePlatform platform;
  EXPECT_EQ(vantle::runLauncher(platform, 0, nullptr), 1);
  EXPECT_EQ(platform.errorOutput,
            "VANTLE Reda: VANTLE Reda could not read the command line it was started with.\n");
  EXPECT_EQ(platform.boxes.size(), 1u);
}

}  // namespace
