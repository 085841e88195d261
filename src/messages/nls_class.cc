#include "messages/nls_class.h"

#include <cstdarg>
#include <new>

#include "base/ascii_text.h"
#include "base/line_reader.h"
#include "messages/message_numbers.h"
#include "platform/files.h"

namespace {

// A blank line or a comment ends the catalogue. A comment begins, after
// leading white space, with ";", "#" or the letters "rem" in any case; only
// three letters are compared, so "Remember" counts as well.
bool endsCatalogue(const std::string& line) {
  std::size_t position = 0;
  while (position < line.size() && isBlank(line[position])) ++position;
  if (position == line.size()) return true;
  char first = line[position];
  if (first == ';' || first == '#') return true;
  return beginsWithNoCase(line, "rem", position);
}

// The English texts of the messages that catalogues made before them lack.
// Such a catalogue, a translation say, still works with this program, and
// its user is then told what happened rather than "unknown message".
struct BuiltInMessage {
  int number;
  const char* text;
};
const BuiltInMessage kBuiltInMessages[] = {
    {kMessageProductBusy,
     "Another installation is running for this product; try again when it has ended."},
    {kMessageUnfinishedOtherKind,
     "An unfinished patch must first be finished on the other kind of Windows"},
    {kMessageUnfinishedRolledBack, "An unfinished patch was rolled back"},
    {kMessagePatchNotRecorded, "Not every entry reached its end; the patch is not recorded"},
    {kMessageUnfinishedPatch, "An unfinished patch could not be rolled back"},
    {kMessageNotFilledIn, "The placeholders of a file could not be filled in"},
    {kMessageProductNotInstalled, "The product is not installed on this machine"},
    {kMessageStampClamped,
     "A time stamp outside what MS-DOS can hold was taken as the nearest one it holds"},
    {kMessageLongNameLost, "After the restart this file has its short name only"},
    {kMessageNotInstalled, "This patch is not installed"},
    {kMessageNoUndoData, "This patch was installed without undo data and cannot be removed"},
    {kMessageLaterPatchOverlaps,
     "A later patch changed the same files or settings; remove it first"},
    {kMessagePatchRemoved, "The patch was removed"},
    {kMessageRestored, "restored"},
    {kMessageRemovedFile, "removed"},
    {kMessageRemovalUnfinished,
     "Not everything could be put back; the next run goes on with the removal"},
    {kMessagePatchDamaged,
     "A file of this patch is missing or damaged, as after a download cut short or on a bad "
     "disk; nothing was changed"},
    {kMessageUndoNotKept,
     "The patch is installed, but it cannot be removed again: its undo data could not be kept"},
};

const char kReadFailure[] = "Error reading NLS language file";
const char kNoMemory[] = "Not Enough Memory";

}  // namespace

NLSClass::NLSClass(const std::string& cataloguePath)
    : messages(), cataloguePath(cataloguePath), log(nullptr), logPath() {}

NLSClass::~NLSClass() {
  if (log != nullptr) std::fclose(log);
}

int NLSClass::load() {
  messages.clear();
  platform::FileHandle file;
  if (!platform::openFileForReading(cataloguePath, &file).ok) {
    writeDiagnostic(kReadFailure, cataloguePath.c_str());
    return 0;
  }

  std::string content;
  bool readOk = true;
  bool memoryOk = true;
  try {
    readOk = platform::readToEnd(file, &content).ok;
  } catch (const std::bad_alloc&) {
    memoryOk = false;
  }
  platform::closeFile(file);
  if (!memoryOk) {
    writeDiagnostic(kNoMemory, nullptr);
    return 0;
  }
  if (!readOk) {
    writeDiagnostic(kReadFailure, nullptr);
    return 0;
  }

  try {
    // Both CR LF and LF end a line; the CR of a pair is not part of the text.
    LineReader reader(content);
    std::string line;
    while (reader.next(&line) && !endsCatalogue(line)) messages.push_back(line);
  } catch (const std::bad_alloc&) {
    messages.clear();
    writeDiagnostic(kNoMemory, nullptr);
    return 0;
  }
  return 1;
}

const char* NLSClass::getBuiltInMessage(int number) {
  for (const BuiltInMessage& builtIn : kBuiltInMessages) {
    if (builtIn.number == number) return builtIn.text;
  }
  return nullptr;
}

const char* NLSClass::getMessage(int number) const {
  if (number >= 1 && number <= getMessageCount()) return messages[number - 1].c_str();
  if (const char* builtIn = getBuiltInMessage(number)) return builtIn;
  // Message 2 is the catalogue's text for a number it does not hold; a
  // catalogue too short to have one yields nothing rather than a bad read.
  if (messages.size() >= 2) return messages[1].c_str();
  return "";
}

void NLSClass::openLog(const std::string& path, int append) {
  if (log != nullptr) {
    std::fclose(log);
    log = nullptr;
  }
  logPath = path;
  if (path.empty()) return;
  log = platform::openStream(path, append != 0 ? "a+" : "w+");
}

int NLSClass::print(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int written = write(stdout, format, arguments);
  va_end(arguments);
  return written;
}

int NLSClass::printTo(std::FILE* stream, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int written = write(stream, format, arguments);
  va_end(arguments);
  return written;
}

int NLSClass::printError(int number, const char* detailFormat, ...) {
  // Written in three pieces, since the message text is data and must not be
  // read as a format; the console and the log get the same bytes as one
  // formatted line would give.
  int written = printTo(stderr, "\n%c%s", kBel, getMessage(number));
  va_list arguments;
  va_start(arguments, detailFormat);
  written += write(stderr, detailFormat, arguments);
  va_end(arguments);
  written += printTo(stderr, "\n");
  return written;
}

int NLSClass::printError(int number) {
  return printTo(stderr, "\n%c%s\n", kBel, getMessage(number));
}

void NLSClass::writeDiagnostic(const char* text, const char* detail) {
  if (console) {
    std::string line = std::string(1, kBel) + "\r\n" + text;
    if (detail != nullptr) line += std::string(": ") + detail;
    console(line + "\r\n\r\n", true);
  } else if (detail != nullptr) {
    std::fprintf(stderr, "%c\r\n%s: %s\r\n\r\n", kBel, text, detail);
  } else {
    // Without an allocation, which may be what failed.
    std::fprintf(stderr, "%c\r\n%s\r\n\r\n", kBel, text);
  }
}

int NLSClass::write(std::FILE* stream, const char* format, va_list arguments) {
  va_list again;
  va_copy(again, arguments);
  int written = 0;
  if (console) {
    va_list measure;
    va_copy(measure, arguments);
    int size = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (size > 0) {
      std::string text(static_cast<std::size_t>(size) + 1, '\0');
      std::vsnprintf(&text[0], text.size(), format, arguments);
      text.pop_back();
      console(text, stream != stdout);
      written = size;
    }
  } else {
    if (stream != stdout) {
      // Standard output is buffered when it goes to a file or pipe; flushing
      // it first keeps the lines of both streams in the order they were
      // printed.
      std::fflush(stdout);
    }
    written = std::vfprintf(stream, format, arguments);
    if (stream != stdout) std::fflush(stream);
  }
  if (log != nullptr) {
    std::vfprintf(log, format, again);
    // A run may end, or be killed, on any path; a flushed log is complete
    // whatever way the process goes.
    std::fflush(log);
  }
  va_end(again);
  return written;
}
