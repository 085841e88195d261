// The baseline for whole-run benchmarks that replace files: the least I/O
// that replaces a file so that its name holds either the old content or all
// of the new at every moment, done directly. Each target gets the source's
// bytes in a new file beside it (copied by the kernel, as cp copies), its
// time, a flush, with -b a second name TARGET's stem + ".OLD" for the old
// file, then the new file renamed over the target. Like the installer, it
// does not flush the directory: the rename alone keeps the name whole.
//
//   durable_copy [-b] SOURCE TARGET...   one source over each target
//   durable_copy -t DIRECTORY SOURCE...  each source into the directory
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool fail(const std::string& what) {
  std::perror(what.c_str());
  return false;
}

std::string backupName(const std::string& target) {
  std::size_t slash = target.rfind('/');
  std::size_t dot = target.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return target + ".OLD";
  }
  return target.substr(0, dot) + ".OLD";
}

bool replace(const char* source, const std::string& target, bool backup) {
  int in = open(source, O_RDONLY);
  if (in < 0) return fail(source);
  struct stat info;
  fstat(in, &info);
  std::string staged = target + ".new";
  int out = open(staged.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (out < 0) {
    close(in);
    return fail(staged);
  }
  off_t left = info.st_size;
  while (left > 0) {
    ssize_t copied = copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(left), 0);
    if (copied <= 0) break;
    left -= copied;
  }
  struct timespec times[2] = {info.st_atim, info.st_mtim};
  bool written = left == 0 && futimens(out, times) == 0 && fsync(out) == 0;
  close(in);
  close(out);
  if (!written) return fail(staged);
  if (backup && link(target.c_str(), backupName(target).c_str()) != 0) return fail(target);
  return rename(staged.c_str(), target.c_str()) == 0 || fail(target);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  bool ok = true;
  if (arguments.size() >= 3 && arguments[0] == "-t") {
    for (std::size_t i = 2; i < arguments.size(); ++i) {
      const std::string& source = arguments[i];
      std::size_t slash = source.rfind('/');
      std::string name = slash == std::string::npos ? source : source.substr(slash + 1);
      ok = replace(source.c_str(), arguments[1] + "/" + name, false) && ok;
    }
    return ok ? 0 : 1;
  }
  bool backup = !arguments.empty() && arguments[0] == "-b";
  std::size_t first = backup ? 1 : 0;
  if (arguments.size() < first + 2) {
    std::fprintf(stderr, "usage: durable_copy [-b] SOURCE TARGET... | -t DIRECTORY SOURCE...\n");
    return 2;
  }
  for (std::size_t i = first + 1; i < arguments.size(); ++i) {
    ok = replace(arguments[first].c_str(), arguments[i], backup) && ok;
  }
  return ok ? 0 : 1;
}
