#include "tools/reader-sim/options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace readersim {
namespace {

// Windows numbers its COM ports from 1; a link's name may be COM0.
#ifdef _WIN32
constexpr long kLowestPort = 1;
#else
constexpr long kLowestPort = 0;
#endif

// Parses a whole decimal number in [min, max]; no sign, no spaces, no trailing text.
bool ParseNumber(const std::string& text, long min, long max, long* value) {
  if (text.empty() || text.size() > 9) {
    return false;
  }
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  const long parsed = std::strtol(text.c_str(), nullptr, 10);
  if (parsed < min || parsed > max) {
    return false;
  }
  *value = parsed;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

bool ParseTagList(const std::string& text, std::vector<TagId>* tags, std::string* error) {
  tags->clear();
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, comma - start);
    start = comma + 1;
    TagId tag;
    if (!ParseTag(item, &tag)) {
      *error = "bad tag '" + item + "': a tag is exactly 16 hex digits beginning with E0";
      return false;
    }
    tags->push_back(tag);
  }
  if (tags->empty() || text.back() == ',') {
    *error = "bad --tags '" + text + "': give one or more tags separated by commas";
    return false;
  }
  return true;
}

bool ParseScenario(const std::string& text, Scenario* scenario) {
  for (Scenario s : {Scenario::kNormal, Scenario::kSilent, Scenario::kShort, Scenario::kLong,
                     Scenario::kNoise, Scenario::kHangup, Scenario::kChatty}) {
    if (text == ScenarioName(s)) {
      *scenario = s;
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<TagId> DefaultTags() {
  return {
      {0xE0, 0x04, 0x01, 0x50, 0x12, 0x34, 0x56, 0x78},
      {0xE0, 0x04, 0x01, 0x50, 0xAA, 0xBB, 0xCC, 0xDD},
      {0xE0, 0x04, 0x01, 0x50, 0x00, 0xC0, 0xFF, 0xEE},
  };
}

bool ParseTag(const std::string& text, TagId* tag) {
  if (text.size() != 16) {
    return false;
  }
  TagId parsed{};
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) {
      return false;
    }
    parsed[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  if (parsed[0] != 0xE0) {
    return false;
  }
  *tag = parsed;
  return true;
}

std::string TagText(const TagId& tag) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t byte : tag) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

const char* ScenarioName(Scenario scenario) {
  switch (scenario) {
    case Scenario::kNormal:
      return "normal";
    case Scenario::kSilent:
      return "silent";
    case Scenario::kShort:
      return "short";
    case Scenario::kLong:
      return "long";
    case Scenario::kNoise:
      return "noise";
    case Scenario::kHangup:
      return "hangup";
    case Scenario::kChatty:
      return "chatty";
  }
  return "?";
}

ParseResult ParseOptions(const std::vector<std::string>& args) {
  ParseResult result;
  Options& options = result.options;
  options.tags = DefaultTags();
  bool portGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool has_value = false;
    const std::size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      has_value = true;
    }
    if (name == "--help" || name == "-h") {
      if (has_value) {
        result.error = "option --help takes no value";
        return result;
      }
      options.help = true;
      continue;
    }
    if (name != "--port" && name != "--tags" && name != "--interval" && name != "--scenario" &&
        name != "--hangup-after" && name != "--return-after" && name != "--frame-gap" &&
        name != "--tty") {
      result.error = "unknown option '" + args[i] + "'";
      return result;
    }
    if (!has_value) {
      if (i + 1 >= args.size()) {
        result.error = "option " + name + " needs a value";
        return result;
      }
      value = args[++i];
    }
    long number = 0;
    if (name == "--port") {
      if (!ParseNumber(value, kLowestPort, 255, &number)) {
        result.error = "bad --port '" + value + "': give a number from " +
                       std::to_string(kLowestPort) + " to 255";
        return result;
      }
      options.port = static_cast<int>(number);
      portGiven = true;
    } else if (name == "--tty") {
#ifdef _WIN32
      result.error = "--tty serves a terminal of a POSIX system; on Windows, give --port N";
      return result;
#else
      if (value.empty()) {
        result.error = "bad --tty '': give the path of a terminal, e.g. /dev/ttyUSB0";
        return result;
      }
      options.tty = value;
#endif
    } else if (name == "--tags") {
      if (!ParseTagList(value, &options.tags, &result.error)) {
        return result;
      }
    } else if (name == "--interval") {
      if (!ParseNumber(value, 1, 3600000, &number)) {
        result.error = "bad --interval '" + value + "': give milliseconds from 1 to 3600000";
        return result;
      }
      options.intervalMs = static_cast<int>(number);
    } else if (name == "--scenario") {
      if (!ParseScenario(value, &options.scenario)) {
        result.error = "bad --scenario '" + value +
                       "': one of normal, silent, short, long, noise, hangup, chatty";
        return result;
      }
    } else if (name == "--frame-gap") {
      if (!ParseNumber(value, 1, 3600000, &number)) {
        result.error = "bad --frame-gap '" + value + "': give milliseconds from 1 to 3600000";
        return result;
      }
      options.frameGapMs = static_cast<int>(number);
    } else if (name == "--return-after") {
      if (!ParseNumber(value, 1, 3600000, &number)) {
        result.error = "bad --return-after '" + value + "': give milliseconds from 1 to 3600000";
        return result;
      }
      options.returnAfterMs = static_cast<int>(number);
    } else {
      if (!ParseNumber(value, 1, 100000000, &number)) {
        result.error = "bad --hangup-after '" + value + "': give a number of bytes from 1 up";
        return result;
      }
      options.hangupAfter = number;
    }
  }
  if (portGiven && !options.tty.empty()) {
    result.error = "--port and --tty exclude each other: --tty makes no COM link";
    return result;
  }
  result.ok = true;
  return result;
}

std::string UsageText() {
  return R"(usage: reader-sim [--port N | --tty PATH] [--tags ID,ID...] [--interval MS]
                  [--scenario normal|silent|short|long|noise|hangup|chatty]
                  [--hangup-after N] [--return-after MS] [--frame-gap MS]
       reader-sim --help

A simulated tag reader on a serial line, for trying the program without the hardware.

On Linux and other POSIX systems it makes a pseudo-terminal and creates the entry COMn
in the current directory, a symbolic link to it, for the program to open as its port,
and removes it again when it ends (Ctrl-C, SIGTERM and SIGHUP included). An existing
COMn that is not a dangling link into /dev/pts/ is left alone and the simulator refuses
to start. With --tty it serves a terminal that exists already instead.

On Windows (reader-sim.exe) it serves the port COMn itself: one end of a virtual
null-modem pair (e.g. com0com's COM5<->COM6: the program opens COM5, reader-sim.exe
serves COM6), or a real port wired null-modem to the program's. While COMn cannot be
opened it says so once and tries again every second. Where the port carries the far
end's DTR as its DSR (a null-modem pair does), DSR shows when the program opens and
closes its side; where it shows no modem lines (a port that Wine maps to a Unix
terminal), the line counts as open from the start. Ctrl+C, Ctrl+Break and closing the
console window end it. The start-up line of the trace says which way the line is seen.

Options:
  --port N          POSIX: the link's name COMn, N from 0 to 255; Windows: the port COMn
                    served, N from 1 to 255 (default 1)
  --tty PATH        POSIX only: serve the terminal PATH, e.g. the host end of an
                    emulated USB-serial adapter (a /dev/pts/N) or a USB-serial adapter
                    wired null-modem to the program's; it is set to 9600 8N1 raw without
                    flow control, and no link is made. The program's opening and closing
                    of its end cannot be seen there, so the line counts as open from the
                    start. A terminal that goes away (a read error or a hangup) is traced:
                    a device is opened again once it is back; a pseudo-terminal, whose
                    number never returns to the same line, ends the simulator (exit 1)
  --tags LIST       tag identifiers, comma-separated, each 16 hex digits beginning with
                    E0 (default E004015012345678,E0040150AABBCCDD,E004015000C0FFEE)
  --interval MS     pause between two tag records (default 500)
  --scenario NAME   normal   answers as described below (default)
                    silent   never answers and sends nothing
                    short    sends only the first 10 bytes of each 14-byte reply
                    long     sends each 14-byte reply followed by 6 extra bytes 55
                    noise    sends 40 noise bytes (never E0) after the UID reply and
                             again after every third tag record
                    hangup   closes the line and ends (exit 0) after N bytes sent,
                             once the program has read them, as an unplugged reader
                             that never comes back
                    chatty   follows every reply at once with a tag record, and leaves
                             what the program did not read in the line when it closes
                             (as a pty bridge or a network serial server does)
  --hangup-after N  N for the hangup scenario (default 50)
  --return-after MS hangup scenario: instead of ending, come back MS after the hangup,
                    as a reader plugged in again, and serve from then on as in the normal
                    scenario: on a new pseudo-terminal under the same COMn link (while
                    away, COMn is a link to nothing), or with the --tty terminal or the
                    Windows port closed and opened again
  --frame-gap MS    a partial frame is dropped when no byte has come for MS (default
                    200); tests give a long gap, so that a program held up by a busy
                    machine between two bytes of a frame still gets its answer
  --help            this text

Frames read: first byte N is the frame length including two CRC-16 bytes (high byte
first, over bytes 0..N-3). Garbage is skipped byte by byte; a partial frame that stays
incomplete for --frame-gap ms is dropped. Frames with a bad CRC or an unknown command are
traced and not answered. Known commands:
  05 11 1E + CRC                       snapshot: one 14-byte reply
  12 11 0E, eleven 00, 2B F0 + CRC      UID: one 14-byte reply, then the tag records
                                       for as long as the line stays open

Reply (14 bytes): 0E 11 <command byte: 1E or 0E> 00 <8 identifier bytes of the first
tag> <CRC-16 over the first 12 bytes, high byte first>.

Tag record (24 bytes): 0D <8 identifier bytes> then fifteen 00; the tags take turns,
one record every --interval ms. When the program closes the line, the records stop and
unsent bytes are dropped; on the simulator's own pseudo-terminal, so is whatever the
program left unread (except in the chatty scenario). The records start again only on a
new UID command.

Trace (standard output, one line per event, with the local time HH:MM:SS.mmm): the line
served (link and pseudo-terminal, terminal or port) and how its opening is seen, the line
opening and closing, every frame received with its length, bytes, CRC verdict and meaning,
bytes skipped, every block of bytes sent, and a line that goes away or comes back.
)";
}

}  // namespace readersim
