#pragma once
// One line per event on standard error, with a UTC time stamp; safe to call from any thread.

#include <string_view>

namespace unplot::server {

void logLine(std::string_view text);

}  // namespace unplot::server
