#include "ui/uid_scan.h"

bool ScanForIdentifier(std::string& collected, std::string& identifier) {
  for (std::size_t k = 0; k < UidScanPositions; ++k) {
    if (collected.compare(2 * k, 2, "E0") == 0) {
      identifier = collected.substr(2 * k, UidIdentifierLength);
      collected.clear();
      return true;
    }
  }
  collected.erase(0, 2 * UidScanPositions);
  return false;
}
