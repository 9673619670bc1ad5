#pragma once

#include <cstdint>
#include <span>

#include "loader/protocol.h"

namespace zarvik {

enum class HandshakeOutcome { Connected, NoLoader, LineLost };

HandshakeOutcome connect_to_loader(LoaderProtocol& protocol);

}  // namespace zarvik
