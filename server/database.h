#pragma once
// An open SQLite database: the connection, owned; closed by the destructor.

#include <filesystem>
#include <stdexcept>
#include <string>

struct sqlite3;

namespace unplot::server {

// Every failing SQLite call ends in this exception, with sqlite3_errmsg() in its text.
class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Database {
public:
    // Opens (creating it if needed) the database file in WAL mode with a busy timeout, so that several threads,
    // each with its own Database, can share it. Throws DatabaseError.
    explicit Database(const std::filesystem::path& file);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Runs one or more statements that return no rows. Throws DatabaseError.
    void execute(const std::string& sql);
    // Throws DatabaseError with `what`, the SQLite result code and the connection's last error message.
    [[noreturn]] void fail(const std::string& what, int code) const;
    // Rows changed by the last INSERT, UPDATE or DELETE.
    int changes() const;

    sqlite3* handle() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

}  // namespace unplot::server
