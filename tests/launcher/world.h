// A scratch world for the launcher tests: a platform with an empty folder to
// build files in, an environment, and what the user was shown. The same
// tests run against the in-memory platform everywhere and, in the Windows
// build, against the real Windows functions on a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "launcher/platform.h"
#include "tests/launcher/fake_platform.h"

namespace vantle {

class World {
 public:
  virtual ~World() = default;
  virtual Platform& platform() = 0;
  // An existing, empty folder, without a trailing separator.
  virtual const std::string& root() const = 0;
  // Creates a folder with every folder above it.
  virtual void makeFolder(const std::string& path) = 0;
  // Creates (or replaces) a file, with its folders.
  virtual void makeFile(const std::string& path, const std::string& content) = 0;
  // Sets an environment variable; nullptr unsets it.
  virtual void setEnv(const char* name, const char* value) = 0;
  virtual const std::vector<ShownBox>& boxes() const = 0;
  virtual const std::string& errorOutput() const = 0;

  // root\relative
  std::string path(const std::string& relative) const { return root() + "\\" + relative; }
  FileKind kind(const std::string& path) { return platform().fileKind(path.c_str()); }
  // The whole content of a file; false when it cannot be read.
  bool readBack(const std::string& path, std::string& content);
};

// "fake" everywhere, and "win32" in the Windows build.
std::vector<std::string> worldKinds();
std::unique_ptr<World> makeWorld(const std::string& kind);

// A test that runs once in every world; the environment variables the
// launcher reads start unset.
class WorldTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override;
  void TearDown() override { world.reset(); }
  // Replaces the world with a new, empty one.
  void freshWorld() {
    world.reset();
    world = makeWorld(GetParam());
  }
  std::unique_ptr<World> world;
};

std::string worldName(const ::testing::TestParamInfo<std::string>& info);

}  // namespace vantle
