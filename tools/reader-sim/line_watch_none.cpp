// Systems without file-access notices: nothing is watched.
#include "tools/reader-sim/line_watch.h"

namespace readersim {

LineWatch::~LineWatch() = default;

bool LineWatch::Start(const std::string&) {
  return false;
}

LineWatch::Events LineWatch::Take() {
  return {};
}

}  // namespace readersim
