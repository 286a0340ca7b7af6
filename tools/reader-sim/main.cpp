// reader-sim: a simulated tag reader on a serial line. See UsageText() for what it does.
#include "tools/reader-sim/serve.h"

int main(int argc, char** argv) {
  return readersim::Run(argc, argv);
}
