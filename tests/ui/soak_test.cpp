// A long run of the UID loop on the virtual clock: more than 100,000 bytes of tag records
// with noise between them, fed as a reader sends them. Every tag must be shown once, in
// order, and the heap must stay where it was.
#include <gtest/gtest.h>
#include <malloc.h>

#include <QLineEdit>
#include <cstdio>
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

// Heap bytes in use now (with ASan its own count, which leaves out the freed memory it
// holds back for checking).
std::size_t LiveHeapBytes() {
#ifdef PAVO_SOAK_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

using Soak = FormTest;

TEST_F(Soak, EveryTagOfALongNoisyStreamIsShownOnceInOrderAndTheHeapStaysFlat) {
  // Records (0D, eight identifier bytes from E0, fifteen 00), each after up to 60 bytes of
  // noise that holds no E0.
  std::mt19937 random(20240611);
  fake::Bytes stream;
  std::vector<std::string> ids;
  auto noise = [&](unsigned length) {
    while (length-- > 0) {
      const auto b = static_cast<std::uint8_t>(random() % 256);
      stream.push_back(b == 0xE0 ? 0x0E : b);
    }
  };
  while (stream.size() < 100000) {
    noise(random() % 61);
    stream.push_back(0x0D);
    std::string id;
    for (int i = 0; i < 8; ++i) {
      const auto b = static_cast<std::uint8_t>(i == 0 ? 0xE0 : random() % 256);
      stream.push_back(b);
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02X", b);
      id += pair;
    }
    stream.insert(stream.end(), 15, 0x00);
    ids.push_back(id);
  }
  noise(30);  // enough after the last record for its scan

  os.Recording = false;
  fake::FakePort& port = os.AddPort("COM1");
  // The reader answers the UID frame, then sends ten bytes a second, as fast as the loop
  // takes them (a byte a pass of 100 ms), so that its input queue stays short.
  std::size_t sent = 0;
  std::function<void()> send = [&] {
    const std::size_t n = std::min<std::size_t>(10, stream.size() - sent);
    port.Receive(fake::Bytes(stream.begin() + static_cast<std::ptrdiff_t>(sent),
                             stream.begin() + static_cast<std::ptrdiff_t>(sent + n)));
    sent += n;
    if (sent < stream.size()) {
      os.After(1000, send);
    }
  };
  port.OnWrite = [&](fake::FakePort& p, const fake::Bytes&) {
    if (p.Line().size() == 18) {
      p.Receive(
          {0x0E, 0x11, 0x0E, 0x00, 0xE0, 0x04, 0x01, 0x50, 0x12, 0x34, 0x56, 0x78, 0x8A, 0x51}, 5);
      os.After(10, send);
    }
  };
  // Checked as they come, without keeping them: the check holds no growing memory.
  std::size_t next = 0;
  std::size_t wrong = 0;
  QObject::connect(Native<QLineEdit>(form->Edit1), &QLineEdit::textChanged,
                   [&](const QString& text) {
                     if (text.isEmpty()) {
                       return;
                     }
                     if (next < ids.size() && text.toStdString() == ids[next]) {
                       ++next;
                     } else {
                       ++wrong;
                     }
                   });
  const std::uint64_t end = 1000 + (stream.size() + 10) * 100;
  std::size_t heapEarly = 0;
  std::size_t heapLate = 0;
  os.At(end / 10, [&] { heapEarly = LiveHeapBytes(); });
  os.At(end - 1, [&] { heapLate = LiveHeapBytes(); });
  os.At(end, [this] { PostClick(form->Button1); });

  form->Button1->Click();

  EXPECT_EQ(sent, stream.size());
  EXPECT_EQ(port.Unread(), 0u);
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(next, ids.size());
  // A byte or more kept for each of the ~90,000 bytes between the two readings shows.
  EXPECT_LT(heapLate, heapEarly + 64 * 1024) << heapEarly << " -> " << heapLate;
}

}  // namespace
