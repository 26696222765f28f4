#pragma once
// What unplot-engine does: --info and the conversion of a PDF into a result archive.

#include "options.h"

#include <ostream>

namespace unplot::engine {

// Prints {"pages":N} to `out` and returns 0, or {"error":CODE,"message":TEXT} and returns 3.
int runInfo(const std::string& pdfPath, std::ostream& out);

// Converts the chosen pages into the archive. Warnings and errors go to `err`, one line each; what each page's
// passes did goes to `out`, one line a page ("page N: text: 3 texts recovered, 57 strokes replaced; clip: ...").
// Returns an exit code.
int runConversion(const EngineOptions& options, std::ostream& out, std::ostream& err);

// The whole command: parses `args` (without the program name) and runs it.
int runEngineCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace unplot::engine
