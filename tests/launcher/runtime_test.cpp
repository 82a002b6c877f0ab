// Finding the interpreter: application-local candidates, the version file's
// slot and the shared runtime checked against its manifest.
#include "launcher/runtime.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/launcher/world.h"

namespace vantle {
namespace {

constexpr char kGoodManifest[] = "{\n  \"python\": \"3.14.2\"\n}\n";

class RuntimeTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    appDir = world->path("app");
    ownPath = appDir + "\\VantleCast.exe";
    world->makeFile(ownPath, "launcher");
    world->setEnv("LOCALAPPDATA", world->path("local").c_str());
  }

  std::string slotFolder(const std::string& slot) {
    return world->path("local\\Korvane\\Runtime\\" + slot);
  }

  // A shared runtime in the slot's folder.
  void installRuntime(const std::string& slot, const std::string& manifest = kGoodManifest) {
    world->makeFile(slotFolder(slot) + "\\korvane-runtime.json", manifest);
    world->makeFile(slotFolder(slot) + "\\KorvaneRuntime.exe", "runtime");
  }

  void writeVersionFile(const std::string& content) {
    world->makeFile(appDir + "\\vantle-app-version.ini", content);
  }

  std::string slotRead() {
    char slot[kSlotSize] = "stale";
    const bool ok = readRuntimeSlot(world->platform(), appDir.c_str(), slot, sizeof slot);
    EXPECT_EQ(ok, slot[0] != '\0');
    return slot;
  }

  bool sharedRuntimeFound() {
    char python[kPathSize];
    char home[kPathSize];
    const bool found =
        findSharedRuntime(world->platform(), "", python, sizeof python, home, sizeof home);
    if (found) {
      EXPECT_EQ(python, slotFolder("3.14") + "\\KorvaneRuntime.exe");
      EXPECT_EQ(home, slotFolder("3.14"));
    } else {
      EXPECT_STREQ(python, "");
      EXPECT_STREQ(home, "");
    }
    return found;
  }

  std::string appDir;
  std::string ownPath;
  RuntimeLocation location;
};

TEST_P(RuntimeTest, ApplicationLocalInterpretersInOrderAndOnlyAsFiles) {
  struct Case {
    const char* files;    // ';'-separated names made as files
    const char* folders;  // ';'-separated names made as folders
    const char* winner;   // "" when none counts
  };
  const Case cases[] = {
      {"_internal\\python.exe;python.exe;pythonw.exe", "", "_internal\\python.exe"},
      {"python.exe;pythonw.exe", "", "python.exe"},
      {"pythonw.exe", "", "pythonw.exe"},
      {"python.exe;pythonw.exe", "_internal\\python.exe", "python.exe"},
      {"pythonw.exe", "_internal\\python.exe;python.exe", "pythonw.exe"},
      {"", "_internal\\python.exe;python.exe;pythonw.exe", ""},
      {"_internal\\pythonw.exe;_internal\\python3.exe", "", ""},
  };
  for (const Case& c : cases) {
    freshWorld();
    const std::string folder = world->path("app");
    world->makeFolder(folder);
    auto make = [&](const std::string& list, bool asFiles) {
      std::size_t start = 0;
      while (start < list.size()) {
        std::size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        const std::string path = folder + "\\" + list.substr(start, end - start);
        if (asFiles) {
          world->makeFile(path, "x");
        } else {
          world->makeFolder(path);
        }
        start = end + 1;
      }
    };
    make(c.files, true);
    make(c.folders, false);
    char python[kPathSize];
    char home[kPathSize];
    const bool found = findAppLocalPython(world->platform(), folder.c_str(), python, sizeof python,
                                          home, sizeof home);
    EXPECT_EQ(found, c.winner[0] != '\0') << c.files << " | " << c.folders;
    if (found) {
      EXPECT_EQ(python, folder + "\\" + c.winner);
      EXPECT_EQ(home, folder);  // the launcher folder, not _internal
    }
  }
}

TEST_P(RuntimeTest, ApplicationLocalWinsWithoutReadingTheVersionFile) {
  world->makeFile(appDir + "\\_internal\\python.exe", "python");
  writeVersionFile("[runtime]\nslot=3.14-beta\n");
  installRuntime("3.14-beta");
  ASSERT_TRUE(resolveRuntime(world->platform(), ownPath.c_str(), location));
  EXPECT_EQ(location.pythonPath, appDir + "\\_internal\\python.exe");
  EXPECT_EQ(location.runtimeHome, appDir);
  EXPECT_EQ(location.appLocalDir, appDir);
  EXPECT_STREQ(location.slot, "");
}

TEST_P(RuntimeTest, SharedRuntimeOfTheSlotTheVersionFileNames) {
  writeVersionFile("[runtime]\nslot=3.14-beta\n");
  installRuntime("3.14");
  installRuntime("3.14-beta");
  ASSERT_TRUE(resolveRuntime(world->platform(), ownPath.c_str(), location));
  EXPECT_EQ(location.pythonPath, slotFolder("3.14-beta") + "\\KorvaneRuntime.exe");
  EXPECT_EQ(location.runtimeHome, slotFolder("3.14-beta"));
  EXPECT_STREQ(location.appLocalDir, "");
  EXPECT_STREQ(location.slot, "3.14-beta");
}

TEST_P(RuntimeTest, AnInstalledDevSlotIsUsedLikeAnyOther) {
  writeVersionFile("[runtime]\nslot=3.14-dev\n");
  installRuntime("3.14-dev");
  ASSERT_TRUE(resolveRuntime(world->platform(), ownPath.c_str(), location));
  EXPECT_EQ(location.pythonPath, slotFolder("3.14-dev") + "\\KorvaneRuntime.exe");
  EXPECT_STREQ(location.slot, "3.14-dev");
}

TEST_P(RuntimeTest, DefaultSlotWithoutAUsableVersionFile) {
  installRuntime("3.14");
  installRuntime("3.14-rc1");
  for (const char* content : {"", "[runtime]\nslot=3.14-rc1\n", "[other]\nslot=3.15\n"}) {
    writeVersionFile(content);
    ASSERT_TRUE(resolveRuntime(world->platform(), ownPath.c_str(), location)) << content;
    EXPECT_EQ(location.pythonPath, slotFolder("3.14") + "\\KorvaneRuntime.exe") << content;
    EXPECT_STREQ(location.slot, "") << content;
  }
}

TEST_P(RuntimeTest, NothingFoundClearsTheWholeLocation) {
  writeVersionFile("[runtime]\nslot=3.14-beta\n");
  installRuntime("3.14");  // not the slot asked for
  std::memset(&location, 'x', sizeof location);
  EXPECT_FALSE(resolveRuntime(world->platform(), ownPath.c_str(), location));
  EXPECT_STREQ(location.pythonPath, "");
  EXPECT_STREQ(location.runtimeHome, "");
  EXPECT_STREQ(location.appLocalDir, "");
  EXPECT_STREQ(location.slot, "3.14-beta");  // still known, for the installer address
}

TEST_P(RuntimeTest, OwnPathTooLongForItsBufferFindsNoLauncherFolder) {
  world->makeFile(appDir + "\\python.exe", "python");
  installRuntime("3.14");
  const std::string tooLong = appDir + "\\" + std::string(kPathSize, 'x') + "\\VantleCast.exe";
  ASSERT_TRUE(resolveRuntime(world->platform(), tooLong.c_str(), location));
  EXPECT_EQ(location.pythonPath, slotFolder("3.14") + "\\KorvaneRuntime.exe");
  EXPECT_STREQ(location.appLocalDir, "");
}

TEST_P(RuntimeTest, VersionFileSlotLine) {
  struct Case {
    std::string content;
    const char* slot;  // "" when no valid slot is read
  };
  const std::string longFiller(255, 'x');
  const std::string manyLines = [] {
    std::string lines;
    for (int i = 0; i < 300; ++i) lines += "name=a value long enough to fill the first chunk\n";
    return lines;
  }();
  const Case cases[] = {
      {"[runtime]\nslot=3.14\n", "3.14"},
      {"[runtime]\nslot=3.14", "3.14"},
      {"\xEF\xBB\xBF[runtime]\r\nslot=3.14-beta\r\n", "3.14-beta"},
      {"[runtime]\n\xEF\xBB\xBFslot=3.14\n", "3.14"},
      {"[RUNTIME]\nSLOT=3.14\n", "3.14"},
      {"[Runtime] settings of the shared runtime\nSlot=3.14\n", "3.14"},
      {"[runtime]x\nslot=3.14\n", "3.14"},
      {"  \t[runtime]\n \t slot=3.14-dev \t\r\n", "3.14-dev"},
      {"[other]\nslot=3.15\n[runtime]\nslot=3.16\n", "3.16"},
      {"name=x\n[runtime]\n\nversion=2\nslot=10.200\n", "10.200"},
      {"[runtime]\n" + manyLines + "slot=3.14-beta\n", "3.14-beta"},
      // Other sections close the runtime section.
      {"[runtime.x]\nslot=3.14\n", ""},
      {"[runtim]\nslot=3.14\n", ""},
      {"[runtime]\n[other]\nslot=3.14\n", ""},
      {"slot=3.14\n", ""},
      // Blanks before "=" make no slot line, so the search goes on.
      {"[runtime]\nslot = 3.14\nslot=3.15\n", "3.15"},
      {"[runtime]\nslot =3.14\n", ""},
      {"[runtime]\nslot= 3.14\n", ""},
      // The first slot line decides; a second one is never consulted.
      {"[runtime]\nslot=3.14\nslot=3.15\n", "3.14"},
      {"[runtime]\nslot=3.14-rc1\nslot=3.14\n", ""},
      {"[runtime]\nslot=\nslot=3.14\n", ""},
      // A line longer than 255 bytes arrives in pieces, each its own line.
      {"[runtime]\n" + longFiller + "slot=3.15\n", "3.15"},
      {"[runtime]\n" + longFiller.substr(0, 250) + "slot=3.15\n", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    writeVersionFile(c.content);
    EXPECT_EQ(slotRead(), c.slot) << c.content;
  }
}

TEST_P(RuntimeTest, SlotValues) {
  struct Case {
    std::string value;
    bool valid;
  };
  const Case cases[] = {
      {"3.14", true},
      {"3.14-beta", true},
      {"3.14-dev", true},
      {"0.0", true},
      {"3." + std::string(29, '1'), true},  // 31 characters
      {"3.14-Dev", false},
      {"3.14-BETA", false},
      {"3.14-rc1", false},
      {"3.14-beta2", false},
      {"3.14-", false},
      {"3", false},
      {".14", false},
      {"3.", false},
      {"3.14.1", false},
      {"v3.14", false},
      {"3." + std::string(30, '1'), false},  // 32 characters
      {"3." + std::string(300, '1'), false},
  };
  for (const Case& c : cases) {
    writeVersionFile("[runtime]\nslot=" + c.value + "\n");
    EXPECT_EQ(slotRead(), c.valid ? c.value : "") << c.value;
  }
}

TEST_P(RuntimeTest, MissingVersionFileOrFolderGivesNoSlot) {
  EXPECT_EQ(slotRead(), "");
  char slot[kSlotSize] = "stale";
  EXPECT_FALSE(readRuntimeSlot(world->platform(), "", slot, sizeof slot));
  EXPECT_STREQ(slot, "");
}

TEST_P(RuntimeTest, ManifestNamesTheRequiredInterpreterVersion) {
  struct Case {
    std::string manifest;
    bool accepted;
  };
  const std::string key = "\"python\": \"3.14";
  const Case cases[] = {
      {"{\"python\": \"3.14\"}", true},
      {"{\"python\": \"3.14.0\"}", true},
      {"{\"python\": \"3.14.11\"}", true},
      {"{\"name\": \"runtime\",\n\t\"python\"\r\n\t:\r\n \"3.14.2\", \"x\": 1}", true},
      {"{\"python\":\"3.14", true},  // the value runs to the end of the bytes read
      {"{\"python\": \"3.140\"}", false},
      {"{\"python\": \"3.13\"}", false},
      {"{\"python\": \"3.15\"}", false},
      {"{\"python\": \"3.14-rc1\"}", false},
      {"{\"python\": \"\"}", false},
      {"{\"python\": 3.14}", false},
      {"{\"python\" = \"3.14\"}", false},
      {"{python: \"3.14\"}", false},
      {"{\"Python\": \"3.14\"}", false},
      {"", false},
      // Only the first 511 bytes are read: the value must end within them.
      {std::string(511 - key.size(), ' ') + key + "\"}", true},
      {std::string(512 - key.size(), ' ') + key + "\"}", false},
      {std::string(600, ' ') + "{\"python\": \"3.14\"}", false},
  };
  for (const Case& c : cases) {
    installRuntime("3.14", c.manifest);
    EXPECT_EQ(sharedRuntimeFound(), c.accepted) << c.manifest;
  }
}

TEST_P(RuntimeTest, SharedRuntimeNeedsEveryPartInPlace) {
  // No LOCALAPPDATA, or an empty one.
  installRuntime("3.14");
  world->setEnv("LOCALAPPDATA", nullptr);
  EXPECT_FALSE(sharedRuntimeFound());
  world->setEnv("LOCALAPPDATA", "");
  EXPECT_FALSE(sharedRuntimeFound());
  world->setEnv("LOCALAPPDATA", world->path("local").c_str());
  EXPECT_TRUE(sharedRuntimeFound());

  // A manifest or executable that is a folder does not count.
  freshWorld();
  world->setEnv("LOCALAPPDATA", world->path("local").c_str());
  world->makeFolder(slotFolder("3.14") + "\\korvane-runtime.json");
  world->makeFile(slotFolder("3.14") + "\\KorvaneRuntime.exe", "runtime");
  EXPECT_FALSE(sharedRuntimeFound());

  freshWorld();
  world->setEnv("LOCALAPPDATA", world->path("local").c_str());
  world->makeFile(slotFolder("3.14") + "\\korvane-runtime.json", kGoodManifest);
  world->makeFolder(slotFolder("3.14") + "\\KorvaneRuntime.exe");
  EXPECT_FALSE(sharedRuntimeFound());

  // The executable alone, without a manifest.
  freshWorld();
  world->setEnv("LOCALAPPDATA", world->path("local").c_str());
  world->makeFile(slotFolder("3.14") + "\\KorvaneRuntime.exe", "runtime");
  EXPECT_FALSE(sharedRuntimeFound());
}

INSTANTIATE_TEST_SUITE_P(Worlds, RuntimeTest, ::testing::ValuesIn(worldKinds()), worldName);

}  // namespace
}  // namespace vantle
