#include "statement.h"

#include <sqlite3.h>

namespace unplot::server {

Statement::Statement(Database& db, std::string_view sql) : db_(db)
{
    int rc = sqlite3_prepare_v2(db_.handle(), sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
    if (rc != SQLITE_OK)
        db_.fail("prepare \"" + std::string(sql) + "\"", rc);
}

Statement::~Statement()
{
    sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int index, std::int64_t value)
{
    int rc = sqlite3_bind_int64(stmt_, index, value);
    if (rc != SQLITE_OK)
        db_.fail("bind", rc);
    return *this;
}

Statement& Statement::bind(int index, std::string_view value)
{
    int rc = sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK)
        db_.fail("bind", rc);
    return *this;
}

Statement& Statement::bindNull(int index)
{
    int rc = sqlite3_bind_null(stmt_, index);
    if (rc != SQLITE_OK)
        db_.fail("bind", rc);
    return *this;
}

bool Statement::step()
{
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    db_.fail(std::string("step \"") + sqlite3_sql(stmt_) + "\"", rc);
}

void Statement::run()
{
    while (step()) {
    }
}

void Statement::reset()
{
    sqlite3_reset(stmt_);  // returns the last step's error, already reported by step()
    int rc = sqlite3_clear_bindings(stmt_);
    if (rc != SQLITE_OK)
        db_.fail("clear bindings", rc);
}

std::int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(stmt_, column);
}

std::string Statement::text(int column) const
{
    const unsigned char* value = sqlite3_column_text(stmt_, column);
    if (!value)
        return {};
    return std::string(reinterpret_cast<const char*>(value), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

}  // namespace unplot::server
