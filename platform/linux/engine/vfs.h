#pragma once

// SQLite's access to the files of the engine. SQLite's own layer opens a database by its name,
// so a name changed between the engine's open and SQLite's (a link swapped in, the file renamed
// and another put in its place) would have SQLite read or write a file the engine never checked
// or created. The engine's layer has SQLite use the very descriptor the engine opened instead,
// opens the rollback journal beside it without following a link or waiting on a FIFO, and locks
// the database with the same byte ranges as SQLite's own layer, so that other SQLite programs
// and the engine still keep out of each other's way.

#include <string>

namespace tarnu::engine {

// The name under which the layer is registered with SQLite (registered on first use).
const char* VfsName();

// While it lives, the next database file that SQLite opens on this thread under exactly `name`
// (a connection's file or an attached one) is `fd`. SQLite refuses to open a database file by
// name otherwise.
class HandOver {
  public:
    HandOver(const std::string& name, int fd);
    ~HandOver();
    HandOver(const HandOver&) = delete;
    HandOver& operator=(const HandOver&) = delete;
};

}  // namespace tarnu::engine
