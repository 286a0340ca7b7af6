#include "app/entry.h"

// No command-line options: the arguments are not used.
int main(int /*argc*/, char** /*argv*/) {
  return PavoMain();
}
