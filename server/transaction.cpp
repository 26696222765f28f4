#include "transaction.h"

#include <sqlite3.h>

namespace unplot::server {

Transaction::Transaction(Database& db, Mode mode) : db_(db)
{
    db_.execute(mode == Mode::Immediate ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction()
{
    if (open_)
        sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);  // nothing more to do if it fails
}

void Transaction::commit()
{
    db_.execute("COMMIT");
    open_ = false;
}

}  // namespace unplot::server
