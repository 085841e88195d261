#include "path/path_name.h"

#include <string>
#include <vector>

#include "platform/name_case.h"

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

struct PathParts {
  std::string drive;
  std::string dir;
  std::string name;
  std::string ext;
};

PathParts split(const std::string& path) {
  PathParts parts;
  std::size_t driveEnd = (path.size() >= 2 && path[1] == ':') ? 2 : 0;
  parts.drive = path.substr(0, driveEnd);

  std::size_t componentStart = driveEnd;
  for (std::size_t i = path.size(); i > driveEnd; --i) {
    if (isSeparator(path[i - 1])) {
      componentStart = i;
      break;
    }
  }
  std::string component = path.substr(componentStart);
  // "." and ".." name directories, not a file with an empty name.
  if (component == "." || component == "..") {
    parts.dir = path.substr(driveEnd);
    return parts;
  }
  parts.dir = path.substr(driveEnd, componentStart - driveEnd);
  std::size_t dot = component.rfind('.');
  if (dot == std::string::npos) {
    parts.name = component;
  } else {
    parts.name = component.substr(0, dot);
    parts.ext = component.substr(dot);
  }
  return parts;
}

}  // namespace

void pathSplit(const std::string& path, std::string* drive, std::string* dir, std::string* name,
               std::string* ext) {
  PathParts parts = split(path);
  if (drive != nullptr) *drive = parts.drive;
  if (dir != nullptr) *dir = parts.dir;
  if (name != nullptr) *name = parts.name;
  if (ext != nullptr) *ext = parts.ext;
}

std::string pathMerge(const std::string& path, const char* drive, const char* dir, const char* name,
                      const char* ext) {
  PathParts parts = split(path);
  std::string result = drive != nullptr ? drive : parts.drive;
  result += dir != nullptr ? dir : parts.dir;
  // Only "\" counts as ending the text: a directory that ends in "/" still
  // gets one. With nothing before it the separator would make a bare name
  // rooted, so none is put there.
  if (!result.empty() && result.back() != '\\') result += '\\';
  result += name != nullptr ? name : parts.name;
  result += ext != nullptr ? ext : parts.ext;
  return result;
}

std::string pathMergeFileName(const std::string& path, const char* drive, const char* dir,
                              const std::string& fromPath) {
  PathParts from = split(fromPath);
  return pathMerge(path, drive, dir, from.name.c_str(), from.ext.c_str());
}

std::string pathSetExt(const std::string& path, const std::string& ext) {
  return pathMerge(path, nullptr, nullptr, nullptr, ext.c_str());
}

std::string pathSetFileName(const std::string& path, const std::string& fromPath) {
  return pathMergeFileName(path, nullptr, nullptr, fromPath);
}

std::string pathDriveDir(const std::string& path) {
  PathParts parts = split(path);
  std::string result = parts.drive + parts.dir;
  // A bare name lies in the current directory.
  if (result.empty()) return ".\\";
  if (result.back() != '\\') result += '\\';
  return result;
}

std::string pathFileName(const std::string& path) {
  PathParts parts = split(path);
  return parts.name + parts.ext;
}

std::string pathJoin(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '\\') return dir + name;
  return dir + "\\" + name;
}

std::string pathNameKey(const std::string& path) {
  std::string drive;
  std::size_t start = 0;
  if (path.size() >= 2 && path[1] == ':') {
    drive = std::string(1, platform::upperNameCase(path[0])) + ":";
    start = 2;
  }
  bool rooted = start < path.size() && (path[start] == '\\' || path[start] == '/');
  std::vector<std::string> components;
  std::string component;
  auto close = [&]() {
    // Windows drops the dots and blanks that end a name: "A.DLL." is "A.DLL".
    while (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
      if (component == "." || component == "..") break;
      component.pop_back();
    }
    if (component == "..") {
      if (!components.empty() && components.back() != "..") {
        components.pop_back();
      } else if (!rooted) {
        components.push_back(component);
      }
    } else if (!component.empty() && component != ".") {
      components.push_back(component);
    }
    component.clear();
  };
  for (std::size_t i = start; i < path.size(); ++i) {
    char c = path[i];
    if (c == '\\' || c == '/') {
      close();
    } else {
      component += platform::upperNameCase(c);
    }
  }
  close();
  std::string key = drive + (rooted ? "\\" : "");
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (i > 0) key += '\\';
    key += components[i];
  }
  return key;
}
