#pragma once
// A transaction that rolls back unless commit() is called. Immediate transactions take the write lock at once
// (BEGIN IMMEDIATE), so that a read followed by a write (claiming a job) cannot race another writer.

#include "database.h"

namespace unplot::server {

class Transaction {
public:
    enum class Mode { Deferred, Immediate };
    explicit Transaction(Database& db, Mode mode = Mode::Immediate);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Throws DatabaseError; the destructor then rolls back.
    void commit();

private:
    Database& db_;
    bool open_ = true;
};

}  // namespace unplot::server
