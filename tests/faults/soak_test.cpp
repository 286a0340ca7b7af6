// A long run of the UID loop on the virtual clock: more than 100,000 bytes of tag records
// with noise between them, fed as a reader sends them. Every tag must be shown once, in
// order, and the memory the process holds must stay where it was.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <QLineEdit>
#include <cstdint>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/ui/form_fixture.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PAVO_SOAK_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define PAVO_SOAK_ASAN 1
#endif
#ifdef PAVO_SOAK_ASAN
#include <sanitizer/allocator_interface.h>
#endif

namespace {

using fake::Bytes;

// Heap bytes in use now (with ASan, its own count, which leaves out freed memory it holds
// back for checking).
std::size_t LiveHeapBytes() {
#ifdef PAVO_SOAK_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

std::size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t size = 0;
  std::size_t resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

std::string Hex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

// Tag records (0D, eight identifier bytes beginning E0, fifteen 00) with noise of random
// length before each (any bytes but E0), until the stream holds at least minimum bytes.
struct TagStream {
  Bytes bytes;
  std::vector<std::string> identifiers;
};
TagStream MakeStream(std::size_t minimum, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> noiseLength(0, 60);
  TagStream stream;
  auto noise = [&](int length) {
    for (int i = 0; i < length; ++i) {
      int b = byte(random);
      while (b == 0xE0) {
        b = byte(random);
      }
      stream.bytes.push_back(static_cast<std::uint8_t>(b));
    }
  };
  while (stream.bytes.size() < minimum) {
    noise(noiseLength(random));
    Bytes id{0xE0};
    for (int i = 0; i < 7; ++i) {
      id.push_back(static_cast<std::uint8_t>(byte(random)));
    }
    stream.bytes.push_back(0x0D);
    stream.bytes.insert(stream.bytes.end(), id.begin(), id.end());
    stream.bytes.insert(stream.bytes.end(), 15, 0x00);
    stream.identifiers.push_back(Hex(id));
  }
  noise(30);  // enough after the last record for its scan
  return stream;
}

using Soak = FormTest;

TEST_F(Soak, EveryTagOfALongNoisyStreamIsShownOnceInOrderAndMemoryStaysFlat) {
  const TagStream stream = MakeStream(100000, 20240611);
  ASSERT_GE(stream.bytes.size(), 100000u);
  const Bytes reply = {0x0E, 0x11, 0x0E, 0x00, 0xE0, 0x04, 0x01,
                       0x50, 0x12, 0x34, 0x56, 0x78, 0x8A, 0x51};

  os.Recording = false;
  fake::FakePort& port = os.AddPort("COM1");
  form->ComboBox1->SetText("1");

  // The reader answers the UID frame, then sends ten stream bytes a second, as fast as
  // the loop takes them, so that its input queue stays short.
  std::size_t sent = 0;
  std::function<void()> send = [&] {
    const std::size_t n = std::min<std::size_t>(10, stream.bytes.size() - sent);
    port.Receive(Bytes(stream.bytes.begin() + static_cast<std::ptrdiff_t>(sent),
                       stream.bytes.begin() + static_cast<std::ptrdiff_t>(sent + n)));
    sent += n;
    if (sent < stream.bytes.size()) {
      os.After(1000, send);
    }
  };
  port.OnWrite = [&](fake::FakePort& p, const Bytes&) {
    if (p.Line().size() == 18) {
      p.Receive(reply, 5);
      os.After(10, send);
    }
  };

  // Edit1's texts, checked as they come against the identifiers in order, without
  // keeping them (so the check itself holds no growing memory).
  std::size_t next = 0;
  std::size_t wrong = 0;
  std::string firstWrong;
  QObject::connect(
      Native<QLineEdit>(form->Edit1), &QLineEdit::textChanged, [&](const QString& text) {
        if (text.isEmpty()) {
          return;
        }
        if (next < stream.identifiers.size() && text.toStdString() == stream.identifiers[next]) {
          ++next;
        } else if (wrong++ == 0) {
          firstWrong = text.toStdString() + " after " + std::to_string(next) + " tags";
        }
      });

  // One byte a pass of 100 ms; the stop comes once the whole stream has been taken.
  const std::uint64_t end = 1000 + (stream.bytes.size() + 10) * 100;
  std::size_t heapEarly = 0;
  std::size_t heapLate = 0;
  std::size_t residentEarly = 0;
  std::size_t residentLate = 0;
  os.At(end / 10, [&] {
    heapEarly = LiveHeapBytes();
    residentEarly = ResidentBytes();
  });
  os.At(end - 1, [&] {
    heapLate = LiveHeapBytes();
    residentLate = ResidentBytes();
  });
  os.At(end, [this] { PostClick(form->Button1); });

  form->Button1->Click();

  EXPECT_EQ(sent, stream.bytes.size());
  EXPECT_EQ(port.Unread(), 0u);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(wrong, 0u) << firstWrong;
  EXPECT_EQ(next, stream.identifiers.size());
  ASSERT_GT(heapEarly, 0u);
  // A byte or more kept for each of the ~90,000 bytes between the two readings shows.
  EXPECT_LT(static_cast<double>(heapLate), static_cast<double>(heapEarly) + 64 * 1024)
      << heapEarly << " -> " << heapLate << " heap bytes";
#ifndef PAVO_SOAK_ASAN
  EXPECT_LT(static_cast<double>(residentLate), static_cast<double>(residentEarly) + 4 * 1048576)
      << residentEarly << " -> " << residentLate << " resident bytes";
#endif
  RecordProperty("tags", static_cast<int>(next));
  RecordProperty("heap_growth", static_cast<int>(heapLate) - static_cast<int>(heapEarly));
}

}  // namespace
