// How far the UID loop's display trails a reader that streams: a reader sends a 14-byte
// record (0D, an identifier beginning E0, five 00) every 200 ms, a byte a millisecond as
// at 9600 baud, for ten minutes. It runs on the fake platform's virtual clock, so the ten
// minutes take a moment and the figures are exact:
//  - the wait of a record's last byte for the pass that takes it (the line's lag);
//  - the age of an identifier when it is shown: from its record's last byte to the
//    display (an identifier is shown once 24 bytes have been collected, so with 14-byte
//    records it waits for part of the next record);
//  - the share of the records whose identifier was shown.
// Each over the tenth minute. Usage: bench_uid_lag [--tsv] [minutes]   (default 10)
#include <stdlib.h>

#include <QLineEdit>
#include <QMetaObject>
#include <QObject>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "bench/bench_support.h"
#include "framework/application.h"
#include "framework/qt/native.h"
#include "testing/fake_platform.h"
#include "ui/unit1.h"

namespace {

using namespace bench;

constexpr std::uint64_t RecordPeriod = 200;
constexpr std::size_t RecordSize = 14;
constexpr std::uint64_t StreamStart = 1000;  // fake time of the first record's first byte

// Record k carries k as BCD digits, so that no byte after its E0 is E0 again.
Bytes Record(std::uint64_t k) {
  Bytes record = {0x0D, 0xE0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 8; i >= 2; --i) {
    record[i] = static_cast<std::uint8_t>(k % 10 + 16 * (k / 10 % 10));
    k /= 100;
  }
  return record;
}

std::uint64_t RecordNumber(const std::string& identifier) {
  std::uint64_t k = 0;
  for (std::size_t i = 2; i < identifier.size(); ++i) {
    k = k * 10 + static_cast<std::uint64_t>(identifier[i] - '0');
  }
  return k;
}

std::uint64_t Arrival(std::uint64_t byteIndex) {
  return StreamStart + RecordPeriod * (byteIndex / RecordSize) + byteIndex % RecordSize;
}

// The fake platform, noting for each read of the loop how long its newest record end had
// waited.
class LagWatch : public ForwardingPlatform {
 public:
  explicit LagWatch(fake::FakePlatform& os) : ForwardingPlatform(os), os_(os) {}
  std::function<void(double)> OnRecordTaken;

  bool ReadFile(platform::Handle h, void* buffer, std::uint32_t count,
                std::uint32_t& read) override {
    const bool ok = ForwardingPlatform::ReadFile(h, buffer, count, read);
    if (count > 1) {  // the loop's reads; the exchange reads single bytes
      for (std::uint32_t i = 0; i < read; ++i, ++taken_) {
        if (taken_ % RecordSize == RecordSize - 1 && OnRecordTaken) {
          OnRecordTaken(static_cast<double>(os_.Now() - Arrival(taken_)));
        }
      }
    }
    return ok;
  }

 private:
  fake::FakePlatform& os_;
  std::uint64_t taken_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t minutes = static_cast<std::uint64_t>(RunsArgument(argc, argv, 10));
  const std::uint64_t end = StreamStart + minutes * 60000;
  const std::uint64_t lastMinute = end - 60000;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  fake::TempWorkingDirectory dir;
  // Qt wants its runtime directory private to the user.
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 0);
  fake::FakePlatform os;
  os.Recording = false;
  LagWatch watch(os);
  platform::Install(&watch);

  fake::FakePort& port = os.AddPort("COM1");
  port.OnWrite = [](fake::FakePort& p, const Bytes& bytes) {
    if (bytes.size() == 1 && p.Line().size() == 18) {  // the UID frame is complete
      p.Receive(Bytes(14, 0x11), 5);
    }
  };
  for (std::uint64_t k = 0; StreamStart + k * RecordPeriod < end + 1000; ++k) {
    const Bytes record = Record(k);
    for (std::size_t i = 0; i < record.size(); ++i) {
      port.ReceiveAt(StreamStart + k * RecordPeriod + i, {record[i]});
    }
  }

  Application->Initialize();
  Application->CreateForm(Form1);
  Form1->ComboBox1->SetText("1");
  Form1->Show();

  Figure lineLag{
      "UID display, 14 B every 200 ms, 10th min: line lag", "ms", {}, "goal <= 100, a pass"};
  Figure age{
      "UID display, 14 B every 200 ms, 10th min: tag age", "ms", {}, "floor 200 (24-byte rule)"};
  Figure share{"UID display, 14 B every 200 ms, 10th min: tags shown", "%", {}, ""};
  std::set<std::uint64_t> shownRecords;
  watch.OnRecordTaken = [&](double waited) {
    if (os.Now() >= lastMinute && os.Now() < end) {
      lineLag.samples.push_back(waited);
    }
  };
  QObject::connect(Native<QLineEdit>(Form1->Edit1), &QLineEdit::textChanged,
                   [&](const QString& text) {
                     if (text.isEmpty() || os.Now() < lastMinute || os.Now() >= end) {
                       return;
                     }
                     const std::uint64_t k = RecordNumber(text.toStdString());
                     shownRecords.insert(k);
                     age.samples.push_back(
                         static_cast<double>(os.Now() - Arrival(k * RecordSize + RecordSize - 1)));
                   });
  os.At(end, [] {
    QMetaObject::invokeMethod(NativeWidget(Form1->Button1), "click", Qt::QueuedConnection);
  });
  Form1->Button1->Click();

  share.samples.push_back(100.0 * static_cast<double>(shownRecords.size()) /
                          static_cast<double>(60000 / RecordPeriod));
  Application->Finalize();
  platform::Install(nullptr);
  Print({lineLag, age, share}, TsvRequested(argc, argv));
  return 0;
}
