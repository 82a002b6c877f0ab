// VantleCast's readers on the portable core, over the fake platform: the
// version file, the runtime manifest, the last line of a launch log and the
// path helpers, with any contents and any names. Every output buffer is a
// heap block of exactly the size the reader is told, so a write past it is
// caught; every result must end inside its buffer and within its limit.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/launch_log.h"
#include "launcher/platform.h"
#include "launcher/runtime.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/launcher/fake_platform.h"

namespace {

using vantle::FakePlatform;

// A buffer of exactly n bytes (at least 1), filled with a marker.
std::vector<char> buffer(std::size_t n) { return std::vector<char>(n == 0 ? 1 : n, '#'); }

void expectString(const std::vector<char>& b, const char* what) {
  FUZZ_CHECK(std::memchr(b.data(), '\0', b.size()) != nullptr, "%s is not terminated", what);
}

std::string someName(FuzzedDataProvider& in, std::size_t most) {
  static const char* const names[] = {"C:\\Users\\ana\\AppData\\Local",
                                      "C:\\app",
                                      "C:\\Users\\ana\\AppData\\Local\\Temp\\Rar$EXa1.2\\app",
                                      "C:\\dir with space\\",
                                      "",
                                      "3.14",
                                      "dev"};
  return in.ConsumeBool() ? std::string(in.PickValueInArray(names))
                          : in.ConsumeRandomLengthString(most);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  FakePlatform platform;
  const std::string appDir = someName(in, 300);
  const std::string local = someName(in, 300);
  platform.environment["LOCALAPPDATA"] = local;
  platform.environment["APPDATA"] = someName(in, 300);
  platform.environment["TEMP"] = someName(in, 300);
  platform.addFolder(appDir);
  platform.addFile(appDir + "\\vantle-app-version.ini", in.ConsumeRandomLengthString(2048));

  // The version file.
  {
    std::vector<char> slot = buffer(in.ConsumeIntegralInRange<std::size_t>(1, 80));
    vantle::readRuntimeSlot(platform, appDir.c_str(), slot.data(), slot.size());
    expectString(slot, "the slot");
  }

  // The manifest, under the slot the fuzzer names.
  const std::string slotName = someName(in, 40);
  const std::string slotFolder = local + "\\Korvane\\Runtime\\" + slotName;
  platform.addFile(slotFolder + "\\korvane-runtime.json", in.ConsumeRandomLengthString(1024));
  if (in.ConsumeBool()) platform.addFile(slotFolder + "\\KorvaneRuntime.exe", "MZ");
  {
    std::vector<char> python = buffer(in.ConsumeIntegralInRange<std::size_t>(1, 400));
    std::vector<char> home = buffer(in.ConsumeIntegralInRange<std::size_t>(1, 400));
    vantle::findSharedRuntime(platform, slotName.c_str(), python.data(), python.size(), home.data(),
                              home.size());
    expectString(python, "the interpreter path");
    expectString(home, "the runtime home");
  }

  // The whole resolution from the launcher's own path.
  {
    const std::string own = appDir + "\\" + someName(in, 60);
    if (own.size() < vantle::kPathSize) {
      vantle::RuntimeLocation location{};
      vantle::resolveRuntime(platform, own.c_str(), location);
      FUZZ_CHECK(std::memchr(location.pythonPath, '\0', sizeof location.pythonPath) != nullptr,
                 "resolved path not terminated");
      FUZZ_CHECK(std::memchr(location.slot, '\0', sizeof location.slot) != nullptr,
                 "resolved slot not terminated");
    }
  }

  // The last line of a launch log.
  {
    const std::string header = someName(in, 400);
    platform.addFile("C:\\log\\launch.log", in.ConsumeRandomLengthString(20000));
    std::vector<char> line = buffer(in.ConsumeIntegralInRange<std::size_t>(1, 400));
    vantle::lastLogLine(platform, "C:\\log\\launch.log", header.c_str(), line.data(), line.size());
    expectString(line, "the log line");
    FUZZ_CHECK(std::strlen(line.data()) <= vantle::kLogLineLength, "log line of %zu characters",
               std::strlen(line.data()));
  }

  // The path helpers.
  {
    const std::string folder = someName(in, 300);
    const std::string name = someName(in, 300);
    std::vector<char> joined = buffer(in.ConsumeIntegralInRange<std::size_t>(1, 700));
    if (vantle::joinPath(joined.data(), joined.size(), folder.c_str(), name.c_str())) {
      expectString(joined, "the joined path");
    }
    std::vector<char> path(folder.begin(), folder.end());
    path.push_back('\0');
    vantle::removeFileSpecPortable(path.data());
    expectString(path, "the folder");
    vantle::startedFromArchive(folder.c_str());
    std::vector<char> url = buffer(in.ConsumeIntegralInRange<std::size_t>(1, 600));
    if (vantle::installerUrlForSlot(name.c_str(), slotName.c_str(), url.data(), url.size())) {
      expectString(url, "the installer address");
    }
    std::vector<char> message = buffer(in.ConsumeIntegralInRange<std::size_t>(1, 2000));
    if (vantle::formatArchiveMessage(message.data(), message.size(), "VANTLE Reda", name.c_str())) {
      expectString(message, "the archive message");
    }
  }
  return 0;
}
