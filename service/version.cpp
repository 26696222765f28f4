#include "version.h"

#include "buildinfo.h"

namespace unplot {

std::string versionText(std::string_view program)
{
    return std::string(program) + ' ' + buildinfo::kVersion + " (commit " + buildinfo::kCommit + ")\n";
}

} // namespace unplot
