#pragma once
// The command line of unplot-engine.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace unplot::engine {

struct EngineOptions {
    enum class Mode { Convert, Info, Help, Version } mode = Mode::Convert;
    std::string input;
    std::string output;
    bool dwg = false;
    std::int64_t version = 14;
    std::string pages = "-1"; // as the protocol writes page lists: "-1" for all
    std::vector<std::string> skippedPasses; // passes over the drawing left out (pipeline.h names them)
    int threads = 0;          // pages converted at once; 0: as many as the cores this process may use
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name. Throws UsageError with a sentence for the user.
EngineOptions parseOptions(const std::vector<std::string>& args);

// The text of --help.
std::string usageText();

} // namespace unplot::engine
