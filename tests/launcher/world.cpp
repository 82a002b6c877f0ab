#include "tests/launcher/world.h"

#ifdef _WIN32
#include <windows.h>

#include "launcher/platform_win32.h"
#endif

namespace vantle {

namespace {

constexpr const char* kLauncherVariables[] = {"LOCALAPPDATA", "APPDATA", "TEMP"};

class FakeWorld : public World {
 public:
  Platform& platform() override { return fake_; }
  const std::string& root() const override { return root_; }
  void makeFolder(const std::string& path) override { fake_.addFolder(path); }
  void makeFile(const std::string& path, const std::string& content) override {
    fake_.addFile(path, content);
  }
  void setEnv(const char* name, const char* value) override {
    if (value == nullptr) {
      fake_.environment.erase(name);
    } else {
      fake_.environment[name] = value;
    }
  }
  const std::vector<ShownBox>& boxes() const override { return fake_.boxes; }
  const std::string& errorOutput() const override { return fake_.errorOutput; }

  FakeWorld() { fake_.addFolder(root_); }

 private:
  FakePlatform fake_;
  std::string root_ = "C:\\scratch";
};

#ifdef _WIN32

// The real Windows functions, except that error boxes and standard-error
// lines are recorded instead of shown.
class RecordingWin32Platform : public Win32Platform {
 public:
  void showErrorBox(const char* caption, const char* text) override {
    boxes.push_back(ShownBox{caption, text});
  }
  void writeStderr(const char* data, std::size_t size) override { errorOutput.append(data, size); }
  std::vector<ShownBox> boxes;
  std::string errorOutput;
};

void removeTree(const std::string& path) {
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = path + "\\" + name;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        removeTree(child);
      } else {
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

class Win32World : public World {
 public:
  Win32World() {
    static int counter = 0;
    char temp[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    std::string base = length > 0 && length < sizeof temp ? std::string(temp, length) : ".\\";
    if (base.back() == '\\') base.pop_back();
    root_ = base + "\\vantle-launcher-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
    removeTree(root_);
    CreateDirectoryA(root_.c_str(), nullptr);
    for (const char* name : kLauncherVariables) {
      char value[32768];
      const DWORD got = GetEnvironmentVariableA(name, value, sizeof value);
      saved_.push_back(got > 0 && got < sizeof value ? std::string(value) : std::string());
      SetEnvironmentVariableA(name, nullptr);
    }
  }

  ~Win32World() override {
    for (std::size_t i = 0; i < saved_.size(); ++i) {
      SetEnvironmentVariableA(kLauncherVariables[i],
                              saved_[i].empty() ? nullptr : saved_[i].c_str());
    }
    removeTree(root_);
  }

  Platform& platform() override { return platform_; }
  const std::string& root() const override { return root_; }

  void makeFolder(const std::string& path) override {
    for (std::size_t i = 3; i < path.size(); ++i) {
      if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
    }
    CreateDirectoryA(path.c_str(), nullptr);
  }

  void makeFile(const std::string& path, const std::string& content) override {
    makeFolder(path.substr(0, path.rfind('\\')));
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, content.size()) << path;
  }

  void setEnv(const char* name, const char* value) override {
    SetEnvironmentVariableA(name, value);
  }
  const std::vector<ShownBox>& boxes() const override { return platform_.boxes; }
  const std::string& errorOutput() const override { return platform_.errorOutput; }

 private:
  RecordingWin32Platform platform_;
  std::string root_;
  std::vector<std::string> saved_;
};

#endif

}  // namespace

bool World::readBack(const std::string& path, std::string& content) {
  content.clear();
  char chunk[4096];
  for (;;) {
    const long long got = platform().readFileAt(path.c_str(), content.size(), chunk, sizeof chunk);
    if (got < 0) return false;
    if (got == 0) return true;
    content.append(chunk, static_cast<std::size_t>(got));
  }
}

std::vector<std::string> worldKinds() {
#ifdef _WIN32
  return {"fake", "win32"};
#else
  return {"fake"};
#endif
}

std::unique_ptr<World> makeWorld(const std::string& kind) {
#ifdef _WIN32
  if (kind == "win32") return std::make_unique<Win32World>();
#endif
  (void)kind;
  return std::make_unique<FakeWorld>();
}

void WorldTest::SetUp() { world = makeWorld(GetParam()); }

std::string worldName(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

}  // namespace vantle
