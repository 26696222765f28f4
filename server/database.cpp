#include "database.h"

#include <sqlite3.h>

namespace unplot::server {

Database::Database(const std::filesystem::path& file)
{
    int rc = sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw DatabaseError("cannot open " + file.string() + ": " + message);
    }
    rc = sqlite3_busy_timeout(db_, 10000);
    if (rc != SQLITE_OK)
        fail("busy timeout", rc);
    execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
}

Database::~Database()
{
    sqlite3_close_v2(db_);
}

void Database::execute(const std::string& sql)
{
    char* error = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        std::string message = error ? error : sqlite3_errmsg(db_);
        sqlite3_free(error);
        throw DatabaseError("SQL \"" + sql + "\" failed (" + std::to_string(rc) + "): " + message);
    }
}

void Database::fail(const std::string& what, int code) const
{
    throw DatabaseError(what + " failed (" + std::to_string(code) + "): " + sqlite3_errmsg(db_));
}

int Database::changes() const
{
    return sqlite3_changes(db_);
}

}  // namespace unplot::server
