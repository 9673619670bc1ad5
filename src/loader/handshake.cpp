#include "loader/handshake.h"

#include <algorithm>
#include <string_view>

namespace zarvik {

bool is_loader_reply(std::span<const std::uint8_t> reply) {
    const auto end = std::find(reply.begin(), reply.end(), std::uint8_t{0});
    const std::string_view text(reinterpret_cast<const char*>(reply.data()),
                                static_cast<std::size_t>(end - reply.begin()));
    return text == "Loader" || text == "UUUU";
}

HandshakeOutcome connect_to_loader(LoaderProtocol& protocol) {
    protocol.discard_stale_input();
    std::array<std::uint8_t, kIdentifySize> reply{};
    const ReadResult got = protocol.identify(reply);
    if (is_loader_reply(std::span(reply).first(got.count))) return HandshakeOutcome::Connected;
    return got.line_lost ? HandshakeOutcome::LineLost : HandshakeOutcome::NoLoader;
}

}  // namespace zarvik
