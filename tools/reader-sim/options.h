// Command-line options of reader-sim.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace readersim {

// The 8 identifier bytes of one tag, first byte E0.
using TagId = std::array<std::uint8_t, 8>;

// How the simulated reader misbehaves, if at all.
enum class Scenario {
  kNormal,  // answers every known command correctly
  kSilent,  // never answers, never sends anything
  kShort,   // replies with only the first 10 of the 14 bytes
  kLong,    // replies with the 14 bytes and 6 extra bytes
  kNoise,   // bursts of noise bytes (never E0) before and between the tag records
  kHangup,  // drops the line after a given number of bytes sent
  kChatty,  // follows every reply with a tag record and keeps unread bytes across closes
};

struct Options {
  int port = 1;             // POSIX: the link's name is "COM" + port; Windows: the port served
  std::string tty;          // POSIX: serve this terminal instead of a pseudo-terminal
  std::vector<TagId> tags;  // never empty after parsing
  int intervalMs = 500;     // pause between two tag records
  Scenario scenario = Scenario::kNormal;
  long hangupAfter = 50;  // bytes sent before the hangup scenario drops the line
  int returnAfterMs = 0;  // hangup: comes back on a new line this long after (0: never)
  int frameGapMs = 200;   // a partial frame is dropped after this long without a byte
  bool help = false;      // --help: print the usage and do nothing else
};

// The tags used when --tags is not given.
std::vector<TagId> DefaultTags();

// Parses a tag as exactly 16 hex digits (either case) beginning with E0.
bool ParseTag(const std::string& text, TagId* tag);

// 16 uppercase hex digits.
std::string TagText(const TagId& tag);

const char* ScenarioName(Scenario scenario);

struct ParseResult {
  bool ok = false;
  Options options;
  std::string error;  // one line, set when !ok
};

// Parses the arguments after the program name. Accepts "--name value" and "--name=value".
ParseResult ParseOptions(const std::vector<std::string>& args);

// The text printed by --help.
std::string UsageText();

}  // namespace readersim
