#include "launcher/main_flow.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
