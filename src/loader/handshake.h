#pragma once

#include <cstdint>
#include <span>

#include "loader/protocol.h"

namespace zarvik {

enum class HandshakeOutcome { Connected, NoLoader, LineLost };

// The reply text ends at the first zero byte or at the last byte read; it must be
// exactly "Loader", or "UUUU" from a line that echoes the sync.
bool is_loader_reply(std::span<const std::uint8_t> reply);

HandshakeOutcome connect_to_loader(LoaderProtocol& protocol);

}  // namespace zarvik
