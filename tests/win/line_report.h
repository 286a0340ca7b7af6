// The line settings the reader driver finds on its side of the pseudo-terminal, as it
// sends them to the Windows test program: 16 bytes, baud rates little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct LineReport {
  static constexpr std::size_t Size = 16;

  // localFlags: what a raw line has switched off.
  static constexpr std::uint8_t Canonical = 0x01;  // ICANON
  static constexpr std::uint8_t Echo = 0x02;       // ECHO
  static constexpr std::uint8_t Signals = 0x04;    // ISIG
  static constexpr std::uint8_t Extended = 0x08;   // IEXTEN
  // translationFlags: anything that changes or drops bytes on their way.
  static constexpr std::uint8_t OutputProcessing = 0x01;  // OPOST
  static constexpr std::uint8_t CrToNl = 0x02;            // ICRNL
  static constexpr std::uint8_t NlToCr = 0x04;            // INLCR
  static constexpr std::uint8_t IgnoreCr = 0x08;          // IGNCR
  static constexpr std::uint8_t Strip = 0x10;             // ISTRIP
  static constexpr std::uint8_t AnyRestarts = 0x20;       // IXANY
  static constexpr std::uint8_t ReceiverOff = 0x40;       // CREAD clear

  std::uint32_t outputBaud = 0;  // 0: a rate the driver does not know
  std::uint32_t inputBaud = 0;
  std::uint8_t dataBits = 0;
  std::uint8_t parity = 0;  // 0 none, 1 odd, 2 even
  std::uint8_t stopBits = 0;
  bool hardwareFlow = false;   // CRTSCTS
  bool outputXonXoff = false;  // IXON
  bool inputXonXoff = false;   // IXOFF
  std::uint8_t localFlags = 0;
  std::uint8_t translationFlags = 0;

  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> b(Size, 0);
    for (int i = 0; i < 4; ++i) {
      b[i] = static_cast<std::uint8_t>(outputBaud >> (8 * i));
      b[4 + i] = static_cast<std::uint8_t>(inputBaud >> (8 * i));
    }
    b[8] = dataBits;
    b[9] = parity;
    b[10] = stopBits;
    b[11] = hardwareFlow;
    b[12] = outputXonXoff;
    b[13] = inputXonXoff;
    b[14] = localFlags;
    b[15] = translationFlags;
    return b;
  }

  static LineReport Decode(const std::uint8_t* b) {
    LineReport r;
    for (int i = 0; i < 4; ++i) {
      r.outputBaud |= static_cast<std::uint32_t>(b[i]) << (8 * i);
      r.inputBaud |= static_cast<std::uint32_t>(b[4 + i]) << (8 * i);
    }
    r.dataBits = b[8];
    r.parity = b[9];
    r.stopBits = b[10];
    r.hardwareFlow = b[11] != 0;
    r.outputXonXoff = b[12] != 0;
    r.inputXonXoff = b[13] != 0;
    r.localFlags = b[14];
    r.translationFlags = b[15];
    return r;
  }
};
