#include "support/stamped_file.h"

#include <cstdint>
#include <stdexcept>

platform::DosStamp makeDosStamp(int year, int month, int day, int hour, int minute, int second) {
  platform::DosStamp stamp;
  stamp.date = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  stamp.time = static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
  return stamp;
}

unsigned long stampValue(platform::DosStamp stamp) {
  return (static_cast<unsigned long>(stamp.date) << 16) | stamp.time;
}

void writeStampedFile(const std::string& path, const std::string& content,
                      platform::DosStamp stamp) {
  platform::deleteFile(path);
  platform::FileHandle file;
  if (!platform::createNewFile(path, &file).ok) throw std::runtime_error("cannot create " + path);
  std::size_t written = 0;
  bool ok = platform::writeFile(file, content.data(), content.size(), &written).ok &&
            written == content.size() && platform::setFileStamp(file, stamp).ok;
  ok = platform::closeFile(file).ok && ok;
  if (!ok) throw std::runtime_error("cannot write " + path);
}

unsigned long readStampValue(const std::string& path) {
  platform::FileHandle file;
  if (!platform::openFileForReading(path, &file).ok) return 0;
  platform::DosStamp stamp;
  bool ok = platform::getFileStamp(file, &stamp).ok;
  platform::closeFile(file);
  return ok ? stampValue(stamp) : 0;
}
