#pragma once
// One prepared SQLite statement, finalized by the destructor. Parameters are bound by 1-based index; columns are
// read by 0-based index. Every failing call throws DatabaseError.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "database.h"

struct sqlite3_stmt;

namespace unplot::server {

class Statement {
public:
    Statement(Database& db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view value);
    Statement& bindNull(int index);

    // Advances to the next row: true when a row is available, false when the statement is done.
    bool step();
    // Runs a statement that returns no rows.
    void run();
    // Makes the statement ready to run again with new parameters.
    void reset();

    std::int64_t integer(int column) const;
    std::string text(int column) const;
    bool isNull(int column) const;

private:
    Database& db_;
    sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace unplot::server
