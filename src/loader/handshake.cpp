#include "loader/handshake.h"

namespace zarvik {

HandshakeOutcome connect_to_loader(LoaderProtocol& protocol) {
    protocol.discard_stale_input();
    std::array<std::uint8_t, kIdentifySize> reply{};
    const ReadResult got = protocol.identify(reply);
    if (is_loader_reply(std::span(reply).first(got.count))) return HandshakeOutcome::Connected;
    return got.line_lost ? HandshakeOutcome::LineLost : HandshakeOutcome::NoLoader;
}

}  // namespace zarvik
