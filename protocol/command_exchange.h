// One request and reply with the reader: the frame goes out with its checksum, the reply
// is collected into RxBuffer until the expected count has come or 500 ms have passed.
#pragma once

#include <cstdint>

constexpr int RxBufferSize = 250;
// The reply of the last exchange, zeroed at the start of every exchange.
extern std::uint8_t RxBuffer[RxBufferSize];
// Where the next reply byte goes; wraps to 0 after the last index.
extern std::int32_t RxPos;

// The command log, appended to by every exchange (two lines per frame).
constexpr const char* CommandLogName = "test.txt";
// Time limit of the reply, in milliseconds from the end of the last write pause.
constexpr std::uint32_t ReplyTimeLimit = 500;

// Discards the input waiting on the port, sends frame (its length byte N first, positions
// 0..N-3; the checksum is appended here) and collects expectedCount reply bytes. True when they all
// came (or none was expected) within the time limit; false when the limit ran out first, or when N
// is below 3 (then nothing is logged or sent). The port must be open.
bool SendCommand(const std::uint8_t* frame, std::uint8_t expectedCount);
