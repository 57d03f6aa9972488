// The monitor's command frame and what one exchange with the monitor came to.
//   CommandFrame   nine ASCII bytes on the wire: "@@", the address, a command, an argument
//   FRAME_SIZE     its size on the wire
//   CommandResult  the outcome of one exchange
//   AddressOf      the address character of a unit ID, or of a unit whose ID is not known
//   MakeFrame      builds a frame for an address
// Standard C++ only: the panel, the command line, the service and the simulator all build on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

struct CommandFrame {
    char header[2];  // always "@@"
    char address;    // "0" plus the unit ID
    char command[3]; // three upper-case letters
    char argument[3];
};
inline constexpr std::size_t FRAME_SIZE = 9;
static_assert(sizeof(CommandFrame) == FRAME_SIZE, "a frame is nine bytes on the wire");

enum CommandResult : std::uint8_t {
    CMD_LINK_ERROR = 1,  // no connection, or no acknowledge could be read
    CMD_NAK = 2,         // a negative acknowledge, or the "?" refusal of an "FV" command
    CMD_ACK = 3,         // the acknowledge "!"
    CMD_SEND_FAILED = 4, // a byte of the frame could not be written; nothing was read
};

// The address character of a unit ID: "0" plus its low eight bits, modulo 256, so unit IDs 0 to
// 9 give "0" to "9" and 10 gives ":".
constexpr char AddressOf(int unitId) {
    return static_cast<char>((0x30 + (unitId & 0xFF)) & 0xFF);
}

// Every monitor answers at "0" whatever its ID: the unit-ID query goes there, and so does every
// frame for a monitor whose ID is not known. On a daisy chain all of them answer there at once.
inline constexpr char ANY_UNIT_ADDRESS = AddressOf(0);
constexpr char AddressOf(std::optional<int> unitId) {
    return unitId ? AddressOf(*unitId) : ANY_UNIT_ADDRESS;
}

// A frame from an address and the three letters of the command and of the argument.
constexpr CommandFrame MakeFrame(char address, const char (&command)[4],
                                 const char (&argument)[4]) {
    return {{'@', '@'},
            address,
            {command[0], command[1], command[2]},
            {argument[0], argument[1], argument[2]}};
}
