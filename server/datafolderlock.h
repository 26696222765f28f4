#pragma once
// Keeps a second unplotd away from a data folder in use: an exclusive lock on DIR/unplotd.lock, held for the
// object's lifetime. (Two services on one job database would each take the other's converting jobs for
// interrupted ones.)

#include <filesystem>

namespace unplot::server {

class DataFolderLock {
public:
    // Throws std::runtime_error when another process holds the lock or the file cannot be opened.
    explicit DataFolderLock(const std::filesystem::path& dataDir);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace unplot::server
