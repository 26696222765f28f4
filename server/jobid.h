#pragma once
// New job identifiers: 128 random bits from the kernel's CSPRNG, as 32 lower-case hex digits
// (protocol::isValidJobId accepts exactly these).

#include <string>

namespace unplot::server {

// Throws std::system_error when the kernel gives no random bytes.
std::string newJobId();

}  // namespace unplot::server
