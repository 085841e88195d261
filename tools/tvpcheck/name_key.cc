#include "name_key.h"

#include <string>
#include <vector>

#include "base/ascii_text.h"

std::string windowsNameKey(const std::string& path) {
  std::string drive;
  std::size_t start = 0;
  if (path.size() >= 2 && path[1] == ':') {
    drive = std::string(1, lowerAscii(path[0])) + ":";
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
      component += lowerAscii(c);
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
