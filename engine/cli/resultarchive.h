#pragma once
// The result archive: named files gathered in memory and written as one zip, atomically (a temporary file in the
// same folder, renamed over the destination once complete).

#include <deque>
#include <string>

namespace unplot::engine {

class ResultArchive {
public:
    void add(std::string name, std::string content);
    bool empty() const { return files_.empty(); }

    // Writes the archive to `path`. Throws std::runtime_error (with the reason) and leaves no file behind on failure;
    // an existing file at `path` is then left as it was.
    void write(const std::string& path) const;

private:
    struct File {
        std::string name;
        std::string content;
    };
    std::deque<File> files_; // a deque: the contents do not move while libzip refers to them
};

} // namespace unplot::engine
