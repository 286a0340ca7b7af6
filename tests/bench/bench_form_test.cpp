// The UID loop as the benchmark measures it: each pass the timing platform reports is
// one pass of the loop, and a click posted from the pass callback stops the loop.
#include <gtest/gtest.h>

#include <QMetaObject>

#include "bench/bench_support.h"
#include "tests/ui/form_fixture.h"

namespace {

class BenchUidLoop : public FormTest {};

TEST_F(BenchUidLoop, PassesAreTheLoopsReadsAndAPostedClickEndsIt) {
  fake::FakePort& port = os.AddPort("COM1");
  port.Receive(fake::Bytes(40, 0x11), 700);
  bench::TimingPlatform timing(os);
  platform::Install(&timing);
  int passes = 0;
  timing.OnPass = [&](int pass) {
    passes = pass;
    if (pass == 12) {
      QMetaObject::invokeMethod(form->Button1, "click", Qt::QueuedConnection);
    }
  };
  form->ComboBox1->SetText("1");
  form->Button1->click();
  platform::Install(&os);

  // The stopping click is handled after pass 12; the loop makes one more pass.
  EXPECT_EQ(passes, 13);
  int loopReads = 0;
  bool afterPause = false;
  for (const std::string& call : os.Trace()) {
    if (afterPause && call.rfind("ReadFile", 0) == 0) {
      ++loopReads;
    }
    afterPause = call == "Sleep(100)";
  }
  EXPECT_EQ(loopReads, 13);
  EXPECT_FALSE(port.IsOpen());
}

}  // namespace
