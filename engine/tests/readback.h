#pragma once
// The independent readers of our DXF and DWG files (readback.py: ezdxf, and LibreDWG and libdxfrw under node) for
// tests written in C++, and the temporary files they read.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace unplot::test {

namespace fs = std::filesystem;

// Why `reader` ("ezdxf", "libredwg", "libdxfrw") cannot run here, for a test to skip with; "" when it can.
std::string readerMissing(const std::string& reader);

// readback.py with `arguments`: its standard output and exit status.
std::pair<std::string, int> readback(const std::vector<std::string>& arguments);

// ezdxf's audit of each file: {path: {"acadver", "counts", "texts", "problems"}}.
nlohmann::json auditDxf(const std::vector<fs::path>& files);
// LibreDWG's (or libdxfrw's) summary of one file; with `dxfOut`, LibreDWG's DXF of it is written there.
nlohmann::json readDwg(const fs::path& file, const std::string& reader = "libredwg", const fs::path& dxfOut = {});
// The differences between the model spaces of two DXF files, one a line; "" when they agree.
std::string compareDxf(const fs::path& ours, const fs::path& theirs);

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    // Writes `bytes` to the file `name` in the folder.
    fs::path save(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
    fs::path save(const std::string& name, const std::string& text) const;

private:
    fs::path path_;
};

}  // namespace unplot::test
