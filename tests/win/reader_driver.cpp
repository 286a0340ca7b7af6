// The reader on the Linux side of the Windows integration tests: a pseudo-terminal whose
// slave is linked as a COM port of the Wine prefix; the master side answers frames.
//
//   win-reader-driver LINK [LIFETIME_SECONDS]
//
// Frames are recognised by their length byte and checked by their checksum. What the
// driver does depends on the command byte (position 2):
//   0x1E  answers 14 bytes: 0E 00 1E, the 5 bytes of the frame as they came, E0 04 01 02,
//         and the checksum of those 12 bytes (high, low);
//   0x0E  sends the frame back exactly as it came;
//   0x7F  reports the line settings it finds with tcgetattr (LineReport below, 16 bytes);
//   else  stays silent.
// Frames with a wrong checksum are dropped. A pause of more than 200 ms between two bytes
// starts a new frame. The driver ends on SIGTERM/SIGINT or when its lifetime is over, and
// removes the link.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/crc16.h"
#include "tests/win/line_report.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
  stopRequested = 1;
}

std::uint32_t BaudOf(speed_t speed) {
  switch (speed) {
    case B1200:
      return 1200;
    case B2400:
      return 2400;
    case B4800:
      return 4800;
    case B9600:
      return 9600;
    case B19200:
      return 19200;
    case B38400:
      return 38400;
    case B57600:
      return 57600;
    case B115200:
      return 115200;
    default:
      return 0;
  }
}

std::vector<std::uint8_t> Report(int slave) {
  termios t{};
  if (tcgetattr(slave, &t) != 0) {
    std::perror("win-reader-driver: tcgetattr");
    return {};
  }
  LineReport r;
  r.outputBaud = BaudOf(cfgetospeed(&t));
  r.inputBaud = BaudOf(cfgetispeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5:
      r.dataBits = 5;
      break;
    case CS6:
      r.dataBits = 6;
      break;
    case CS7:
      r.dataBits = 7;
      break;
    default:
      r.dataBits = 8;
      break;
  }
  r.parity = (t.c_cflag & PARENB) != 0 ? ((t.c_cflag & PARODD) != 0 ? 1 : 2) : 0;
  r.stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
  r.hardwareFlow = (t.c_cflag & CRTSCTS) != 0;
  r.outputXonXoff = (t.c_iflag & IXON) != 0;
  r.inputXonXoff = (t.c_iflag & IXOFF) != 0;
  r.localFlags = static_cast<std::uint8_t>(((t.c_lflag & ICANON) != 0 ? LineReport::Canonical : 0) |
                                           ((t.c_lflag & ECHO) != 0 ? LineReport::Echo : 0) |
                                           ((t.c_lflag & ISIG) != 0 ? LineReport::Signals : 0) |
                                           ((t.c_lflag & IEXTEN) != 0 ? LineReport::Extended : 0));
  r.translationFlags =
      static_cast<std::uint8_t>(((t.c_oflag & OPOST) != 0 ? LineReport::OutputProcessing : 0) |
                                ((t.c_iflag & ICRNL) != 0 ? LineReport::CrToNl : 0) |
                                ((t.c_iflag & INLCR) != 0 ? LineReport::NlToCr : 0) |
                                ((t.c_iflag & IGNCR) != 0 ? LineReport::IgnoreCr : 0) |
                                ((t.c_iflag & ISTRIP) != 0 ? LineReport::Strip : 0) |
                                ((t.c_iflag & IXANY) != 0 ? LineReport::AnyRestarts : 0) |
                                ((t.c_cflag & CREAD) == 0 ? LineReport::ReceiverOff : 0));
  return r.Encode();
}

std::vector<std::uint8_t> Answer(const std::vector<std::uint8_t>& frame, int slave) {
  switch (frame[2]) {
    case 0x1E: {
      std::vector<std::uint8_t> reply{0x0E, 0x00, 0x1E};
      reply.insert(reply.end(), frame.begin(), frame.end());
      reply.insert(reply.end(), {0xE0, 0x04, 0x01, 0x02});
      reply.resize(12);
      const std::uint16_t crc = Crc16(reply.data(), 12);
      reply.push_back(static_cast<std::uint8_t>(crc >> 8));
      reply.push_back(static_cast<std::uint8_t>(crc & 0xFF));
      return reply;
    }
    case 0x0E:
      return frame;
    case 0x7F:
      return Report(slave);
    default:
      return {};
  }
}

bool ChecksumMatches(const std::vector<std::uint8_t>& frame) {
  const std::size_t n = frame.size();
  const std::uint16_t crc = Crc16(frame.data(), static_cast<std::uint8_t>(n - 2));
  return frame[n - 2] == (crc >> 8) && frame[n - 1] == (crc & 0xFF);
}

void WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      std::perror("win-reader-driver: write");
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string s;
  char pair[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X ", b);
    s += pair;
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s LINK [LIFETIME_SECONDS]\n", argv[0]);
    return 2;
  }
  const std::string link = argv[1];
  const int lifetime = argc > 2 ? std::atoi(argv[2]) : 600;

  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("win-reader-driver: pseudo-terminal");
    return 1;
  }
  const char* slaveName = ptsname(master);
  // Holding the slave open keeps the master readable between the test program's opens and
  // gives tcgetattr a handle on the line.
  const int slave = slaveName != nullptr ? open(slaveName, O_RDWR | O_NOCTTY) : -1;
  if (slave < 0) {
    std::perror("win-reader-driver: slave");
    return 1;
  }
  unlink(link.c_str());
  if (symlink(slaveName, link.c_str()) != 0) {
    std::perror("win-reader-driver: symlink");
    return 1;
  }
  std::signal(SIGTERM, RequestStop);
  std::signal(SIGINT, RequestStop);
  std::printf("win-reader-driver: %s -> %s\n", link.c_str(), slaveName);
  std::fflush(stdout);

  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::seconds(lifetime);
  auto lastByte = Clock::now();
  std::vector<std::uint8_t> frame;
  while (stopRequested == 0 && Clock::now() < end) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) {
      continue;
    }
    std::array<std::uint8_t, 256> chunk{};
    const ssize_t n = read(master, chunk.data(), chunk.size());
    if (n <= 0) {
      usleep(10000);
      continue;
    }
    const auto now = Clock::now();
    if (now - lastByte > std::chrono::milliseconds(200) && !frame.empty()) {
      std::printf("win-reader-driver: incomplete frame dropped: %s\n", Hex(frame).c_str());
      frame.clear();
    }
    lastByte = now;
    for (ssize_t i = 0; i < n; ++i) {
      if (frame.empty() && chunk[i] < 3) {
        std::printf("win-reader-driver: stray byte %02X\n", chunk[i]);
        continue;
      }
      frame.push_back(chunk[i]);
      if (frame.size() < frame[0]) {
        continue;
      }
      if (!ChecksumMatches(frame)) {
        std::printf("win-reader-driver: bad checksum: %s\n", Hex(frame).c_str());
      } else {
        const std::vector<std::uint8_t> reply = Answer(frame, slave);
        std::printf("win-reader-driver: frame %s-> reply %s\n", Hex(frame).c_str(),
                    Hex(reply).c_str());
        WriteAll(master, reply);
      }
      std::fflush(stdout);
      frame.clear();
    }
  }
  unlink(link.c_str());
  close(slave);
  close(master);
  return 0;
}
