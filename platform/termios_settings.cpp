#include "platform/termios_settings.h"

#include <cerrno>
#include <cstdint>

namespace platform {
namespace {

struct SpeedEntry {
  std::uint32_t baud;
  speed_t speed;
};

const SpeedEntry kSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400},
};

bool SpeedOf(std::uint32_t baud, speed_t& speed) {
  for (const SpeedEntry& entry : kSpeeds) {
    if (entry.baud == baud) {
      speed = entry.speed;
      return true;
    }
  }
  return false;
}

std::uint32_t BaudOf(speed_t speed) {
  for (const SpeedEntry& entry : kSpeeds) {
    if (entry.speed == speed) {
      return entry.baud;
    }
  }
  return 0;
}

}  // namespace

bool ToTermios(const LineSettings& settings, termios& t) {
  speed_t speed = 0;
  if (!SpeedOf(settings.BaudRate, speed)) {
    errno = EINVAL;
    return false;
  }
  tcflag_t size = CS8;
  switch (settings.ByteSize) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      errno = EINVAL;
      return false;
  }
  // A raw line: no input or output processing, no echo, no signals.
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
  t.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
  t.c_cflag |= CLOCAL | CREAD | size;
  switch (settings.Parity) {
    case Parity::None:
      break;
    case Parity::Odd:
      t.c_cflag |= PARENB | PARODD;
      break;
    case Parity::Even:
      t.c_cflag |= PARENB;
      break;
    case Parity::Mark:
    case Parity::Space:
#ifdef CMSPAR
      t.c_cflag |= PARENB | CMSPAR;
      if (settings.Parity == Parity::Mark) {
        t.c_cflag |= PARODD;
      }
      break;
#else
      errno = EINVAL;
      return false;
#endif
  }
  switch (settings.StopBits) {
    case StopBits::One:
      break;
    case StopBits::OnePointFive:
      // The UART sends 1.5 stop bits for CSTOPB with 5 data bits, and only then.
      if (settings.ByteSize != 5) {
        errno = EINVAL;
        return false;
      }
      t.c_cflag |= CSTOPB;
      break;
    case StopBits::Two:
      // With 5 data bits the same flag sends 1.5: two cannot be had.
      if (settings.ByteSize == 5) {
        errno = EINVAL;
        return false;
      }
      t.c_cflag |= CSTOPB;
      break;
  }
  if (settings.SoftwareFlowControl) {
    t.c_iflag |= IXON | IXOFF;
  }
  if (settings.HardwareFlowControl) {
    t.c_cflag |= CRTSCTS;
  }
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  return cfsetispeed(&t, speed) == 0 && cfsetospeed(&t, speed) == 0;
}

LineSettings FromTermios(const termios& t) {
  LineSettings settings;
  settings.BaudRate = BaudOf(cfgetospeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5:
      settings.ByteSize = 5;
      break;
    case CS6:
      settings.ByteSize = 6;
      break;
    case CS7:
      settings.ByteSize = 7;
      break;
    default:
      settings.ByteSize = 8;
      break;
  }
  settings.Parity = Parity::None;
  if (t.c_cflag & PARENB) {
#ifdef CMSPAR
    if (t.c_cflag & CMSPAR) {
      settings.Parity = (t.c_cflag & PARODD) ? Parity::Mark : Parity::Space;
    } else
#endif
    {
      settings.Parity = (t.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
    }
  }
  if (t.c_cflag & CSTOPB) {
    settings.StopBits = settings.ByteSize == 5 ? StopBits::OnePointFive : StopBits::Two;
  } else {
    settings.StopBits = StopBits::One;
  }
  settings.SoftwareFlowControl = (t.c_iflag & (IXON | IXOFF)) != 0;
  settings.HardwareFlowControl = (t.c_cflag & CRTSCTS) != 0;
  return settings;
}

}  // namespace platform
