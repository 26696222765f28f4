#include "readback.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <sys/wait.h>

namespace unplot::test {
namespace {

std::string quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

nlohmann::json parsed(const std::string& output)
{
    auto json = nlohmann::json::parse(output, nullptr, false);
    if (json.is_discarded())
        throw std::runtime_error("no JSON from readback.py: " + output.substr(0, 400));
    return json;
}

}  // namespace

std::pair<std::string, int> readback(const std::vector<std::string>& arguments)
{
    std::string command = quote(UNPLOT_SYSTEM_PYTHON) + " " + quote(UNPLOT_READBACK);
    for (const std::string& a : arguments)
        command += " " + quote(a);
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr)
        throw std::runtime_error("cannot run " + command);
    std::string output;
    std::array<char, 65536> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
        output.append(buffer.data(), n);
    const int status = pclose(pipe);
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

std::string readerMissing(const std::string& reader)
{
    const auto [output, status] = readback({"check", reader});
    return status == 0 ? "" : output.empty() ? "readback.py cannot run" : output;
}

nlohmann::json auditDxf(const std::vector<fs::path>& files)
{
    std::vector<std::string> arguments{"dxf"};
    for (const fs::path& f : files)
        arguments.push_back(f.string());
    return parsed(readback(arguments).first);
}

nlohmann::json readDwg(const fs::path& file, const std::string& reader, const fs::path& dxfOut)
{
    std::vector<std::string> arguments{"dwg", file.string()};
    if (reader == "libdxfrw")
        arguments.insert(arguments.begin() + 1, "--dxfrw");
    if (!dxfOut.empty())
        arguments.push_back(dxfOut.string());
    return parsed(readback(arguments).first);
}

std::string compareDxf(const fs::path& ours, const fs::path& theirs)
{
    const auto [output, status] = readback({"compare", ours.string(), theirs.string()});
    return status == 0 ? "" : output.empty() ? "compare failed" : output;
}

TempDir::TempDir()
{
    path_ = fs::temp_directory_path() / ("unplot-test-" + std::to_string(std::random_device{}()));
    fs::create_directories(path_);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

fs::path TempDir::save(const std::string& name, const std::vector<std::uint8_t>& bytes) const
{
    std::ofstream out(path_ / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path_ / name;
}

fs::path TempDir::save(const std::string& name, const std::string& text) const
{
    return save(name, std::vector<std::uint8_t>(text.begin(), text.end()));
}

}  // namespace unplot::test
