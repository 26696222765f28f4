// The engine on PDFs: a document read from memory under a MuPDF memory limit, its first pages converted into
// drawings and written as DXF. Failures the engine reports (a damaged file, an unreadable page) are fine; crashes,
// hangs, leaks and memory beyond the limit are not.

#include "dxfwriter.h"
#include "pdfreader.h"

#include <cstdint>
#include <stdexcept>
#include <string_view>

using namespace unplot::engine;

namespace {
constexpr std::size_t kMemoryLimit = std::size_t{256} << 20;
constexpr int kPagesRead = 3;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        PdfReader reader(std::string_view(reinterpret_cast<const char*>(data), size), kMemoryLimit);
        for (int page = 1; page <= reader.pageCount() && page <= kPagesRead; ++page) {
            try {
                dxfToString(reader.readPage(page), 15);
            } catch (const std::runtime_error&) {
            }
        }
    } catch (const PdfOpenError&) {
    }
    return 0;
}
