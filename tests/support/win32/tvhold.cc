// tvhold PATH MODE SIGNALDIR
//
// Keeps PATH open so that the program under test finds it in use. MODE
// "read" shares it for reading only (it can be read but not renamed,
// replaced or deleted); MODE "none" shares nothing (every open fails). Once
// the file is open the holder creates SIGNALDIR\held and waits until
// SIGNALDIR\release appears, then closes the file and exits 0. When the file
// cannot be opened it creates SIGNALDIR\failed and exits 1.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// A test that dies without releasing must not leave the holder behind for
// ever: after ten minutes it gives up and exits 3.
constexpr DWORD kPollMilliseconds = 20;
constexpr DWORD kGiveUpPolls = 10 * 60 * 1000 / kPollMilliseconds;

void createSignal(const std::string& path) {
  HANDLE signal = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (signal != INVALID_HANDLE_VALUE) {
    CloseHandle(signal);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[2], "read") != 0 && std::strcmp(argv[2], "none") != 0)) {
    std::fprintf(stderr, "usage: tvhold PATH read|none SIGNALDIR\n");
    return 2;
  }
  std::string signalDirectory = argv[3];
  if (!signalDirectory.empty() && signalDirectory.back() != '\\' && signalDirectory.back() != '/') {
    signalDirectory += '\\';
  }
  DWORD share = std::strcmp(argv[2], "read") == 0 ? FILE_SHARE_READ : 0;
  HANDLE held = CreateFileA(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    createSignal(signalDirectory + "failed");
    return 1;
  }
  createSignal(signalDirectory + "held");
  std::string release = signalDirectory + "release";
  DWORD polls = 0;
  while (GetFileAttributesA(release.c_str()) == INVALID_FILE_ATTRIBUTES && polls < kGiveUpPolls) {
    Sleep(kPollMilliseconds);
    ++polls;
  }
  CloseHandle(held);
  return polls < kGiveUpPolls ? 0 : 3;
}
