#pragma once

// SQLite's access to the files of the engine. SQLite's own layer opens a database by its name,
// so a name changed between the engine's open and SQLite's (a link swapped in, the file renamed
// and another put in its place) would have SQLite read or write a file the engine never checked
// or created. The engine's layer has SQLite use the very descriptor the engine opened instead,
// reaches the rollback journal only through the descriptor of the database's folder (opened,
// created, looked for and removed there, never through a link and never waiting on a FIFO), and
// locks the database with the same byte ranges as SQLite's own layer, so that other SQLite
// programs and the engine still keep out of each other's way.

#include <sqlite3.h>
#include <sys/types.h>

#include <optional>
#include <string>

namespace tarnu::engine {

// The name under which the layer is registered with SQLite (registered on first use).
const char* VfsName();

// While it lives, the next database file that SQLite opens on this thread under exactly `name`
// (a connection's file or an attached one) is `fd`, which lies in `folder` as `fileName`; its
// journal goes beside it there. SQLite refuses to open a database file by name otherwise.
class HandOver {
  public:
    HandOver(const std::string& name, int fd, int folder, const std::string& fileName);
    ~HandOver();
    HandOver(const HandOver&) = delete;
    HandOver& operator=(const HandOver&) = delete;
};

// A file at the journal's name beside the main database of connection db that the layer refused
// to use as its journal, the last time it looked: another user's file, a link, a FIFO.
struct RefusedJournal {
    std::string path;
    uid_t owner = 0;
    bool regular = false;
};
std::optional<RefusedJournal> RefusedJournalOf(sqlite3* db);

// Whether anything stands at the journal's name beside the main database of connection db.
bool JournalBeside(sqlite3* db);
// Removes the journal beside the main database of connection db, if it is one the layer would
// use (a regular file of the runner or of the database's owner). For a journal that SQLite left
// behind with nothing to roll back, while the connection holds the write lock.
void RemoveStaleJournal(sqlite3* db);

}  // namespace tarnu::engine
