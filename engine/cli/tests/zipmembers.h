// The members of an archive the engine wrote, read whole, for the command's tests.
#pragma once

#include <zip.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace unplot::engine {

struct ZipMember {
    std::string name;
    std::string content;
    zip_uint8_t system = 0;        // the system its attributes are of (ZIP_OPSYS_UNIX, ...)
    zip_uint32_t attributes = 0;  // for Unix: the file's mode in the upper 16 bits
};

// The members in their order; nullopt when `zip` is no archive.
inline std::optional<std::vector<ZipMember>> readZip(const std::filesystem::path& zip)
{
    int error = 0;
    zip_t* archive = zip_open(zip.c_str(), ZIP_RDONLY, &error);
    if (!archive)
        return std::nullopt;
    std::vector<ZipMember> members;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t stat;
        zip_stat_index(archive, zip_uint64_t(i), 0, &stat);
        ZipMember& m = members.emplace_back(ZipMember{stat.name, std::string(stat.size, '\0')});
        zip_file_t* file = zip_fopen_index(archive, zip_uint64_t(i), 0);
        zip_fread(file, m.content.data(), stat.size);
        zip_fclose(file);
        zip_file_get_external_attributes(archive, zip_uint64_t(i), 0, &m.system, &m.attributes);
    }
    zip_discard(archive);
    return members;
}

}  // namespace unplot::engine
