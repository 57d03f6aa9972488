// Prints the protocol's floors that kelvanectl's benchmark (Python, which cannot include the core)
// measures against, from the core itself: one "name value" a line.
//   exchange_floor_ms  one exchange at its quickest
//   status_floor_ms    the four queries of a connect, which kelvanectl status asks
//   quiet_read_ms, frame_bytes, baud, answer_wait_ms   what an exchange's floor is made of
//   status_wire_ms     the four queries' frames and whole answers at the line's speed: the most
//                      an answer-driven status can come to
#include <cstdio>
#include "core/MonitorProtocol.h"
#include "core/ProtocolRules.h"

int main() {
    const double exchange = protocol::ExchangeFloorMs();
    std::printf("exchange_floor_ms %.17g\n", exchange);
    std::printf("status_floor_ms %.17g\n", protocol::StatusFloorMs(true));
    std::printf("quiet_read_ms %u\n", unsigned(protocol::READ_TIMEOUT_MS));
    std::printf("frame_bytes %zu\n", FRAME_SIZE);
    std::printf("baud %u\n", protocol::BAUD_RATE);
    std::printf("answer_wait_ms %u\n", unsigned(protocol::ANSWER_WAIT_MS));
    unsigned statusBytes = 0;
    for (Query query : CONNECT_QUERIES)
        statusBytes += FRAME_SIZE + CodeOf(query).dataBytes + 1;
    std::printf("status_wire_ms %.17g\n", protocol::WireTimeMs(statusBytes));
    return 0;
}
