#pragma once
// The result archive: a zip written member by member into a temporary file beside its destination and renamed over
// it once complete, so that a failed conversion leaves no file behind and an existing archive as it was. Members are
// compressed ahead (compress), on whichever thread made them; the archive's bytes depend only on its members, their
// order and the time given. Members are plain files, mode 0644.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

namespace unplot::engine {

class ResultArchive {
public:
    struct Member {
        std::string name;
        std::string deflated; // the content, compressed (raw deflate), or as it is when `stored`
        std::uint32_t crc = 0;
        std::uint32_t size = 0;
        bool stored = false;
    };
    // Throws std::runtime_error for content of 4 GB or more.
    static Member compress(std::string name, std::string_view content);
    // A member kept as it is (for files that are compressed already: PNG, JPEG).
    static Member store(std::string name, std::string content);

    // Creates the temporary file; `time` dates every member. Throws std::runtime_error with the reason.
    ResultArchive(std::string path, std::time_t time);
    ~ResultArchive(); // removes the temporary file unless committed
    ResultArchive(const ResultArchive&) = delete;
    ResultArchive& operator=(const ResultArchive&) = delete;

    // Appends a member. Throws std::runtime_error when it cannot be written or the archive would reach 4 GB.
    void add(const Member& member);
    bool empty() const { return count_ == 0; }
    // Writes the archive's directory and renames it into place. Throws std::runtime_error with the reason.
    void commit();

private:
    void write(const std::string& bytes);

    std::string path_;
    std::string temp_;
    std::FILE* file_ = nullptr;
    std::string directory_; // the central directory's entries so far
    std::uint64_t offset_ = 0;
    std::uint32_t count_ = 0;
    std::uint16_t dosTime_ = 0;
    std::uint16_t dosDate_ = 0;
};

} // namespace unplot::engine
