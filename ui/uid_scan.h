// The collected text of the continuous UID reading and its scan for a tag identifier:
// pure text handling, apart from the window and the port.
#pragma once

#include <string>

// Characters the collected text must hold before it is scanned (24 bytes).
constexpr std::size_t UidScanThreshold = 48;
// Byte positions tried as the start of an identifier in one scan.
constexpr std::size_t UidScanPositions = 14;
// Hex digits of one identifier (8 bytes).
constexpr std::size_t UidIdentifierLength = 16;

// Scans collected (two uppercase hex digits per byte, in arrival order), which must hold
// at least UidScanThreshold characters, for the first of the UidScanPositions byte
// positions whose digits are "E0". On a match, identifier receives the 16 digits from
// there, collected is emptied and the result is true. Without one, the scanned byte
// positions are dropped from the front, so that every byte position is tried exactly
// once as the start of an identifier, and the result is false.
bool ScanForIdentifier(std::string& collected, std::string& identifier);
