#include "platform/append_file.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::string AppendToFile(const char* name, const std::string& text) {
  const std::string file = std::string("\"") + name + "\"";
  std::string whyNot;
  std::FILE* stream = OpenForAppend(name, whyNot);
  if (stream == nullptr) {
    return "cannot open " + file + ": " + whyNot;
  }
  // Unbuffered: the text goes out in the write itself, so a failure shows there and the
  // close has nothing left to write after the cut.
  std::setvbuf(stream, nullptr, _IONBF, 0);
  // Where the text begins, to cut off what a failed write leaves (-1 on a device or a
  // pipe, which keep nothing to cut).
  const long end = std::fseek(stream, 0, SEEK_END) == 0 ? std::ftell(stream) : -1;
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  const int error = errno;
  if (!written && end >= 0) {
    TruncateFile(stream, end);
  }
  const bool closed = std::fclose(stream) == 0;
  if (written && closed) {
    return std::string();
  }
  const int cause = written ? errno : error;
  return "cannot write " + file + ": " + (cause != 0 ? std::strerror(cause) : "write failed");
}

}  // namespace platform
