#pragma once
// What every program prints for --version.

#include <string>
#include <string_view>

namespace unplot {

// "PROGRAM VERSION (commit COMMIT)\n": the project version and the commit the build came from.
std::string versionText(std::string_view program);

} // namespace unplot
