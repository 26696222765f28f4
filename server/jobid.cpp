#include "jobid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace unplot::server {

std::string newJobId()
{
    std::uint8_t bytes[16];
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
        ssize_t n = getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        filled += static_cast<std::size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id;
    id.reserve(32);
    for (std::uint8_t b : bytes) {
        id.push_back(kHex[b >> 4]);
        id.push_back(kHex[b & 0xf]);
    }
    return id;
}

}  // namespace unplot::server
