#include "tests/engine/engine_test_util.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace tarnu::engine::test {

std::int32_t ErrorNumberOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const tarnu::Error& e) {
        return e.number();
    }
    return 0;
}

std::vector<std::string> Rows(Database& db, const std::string& select) {
    std::vector<std::string> rows;
    db.ForEachRow(select, [&](const std::vector<std::string>&, const std::vector<Value>& row) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += (i ? "\t" : "") + row[i].ToText();
        }
        rows.push_back(line);
    });
    return rows;
}

std::vector<std::string> TableNames(dao::Database& db) {
    std::vector<std::string> names;
    dao::TableDefs& defs = db.TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        names.push_back(defs.Item(i).Name);
    }
    return names;
}

std::vector<std::string> FolderContents(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

bool ReadAll(int fd, void* buf, std::size_t size) {
    auto* p = static_cast<char*>(buf);
    while (size > 0) {
        ssize_t n = ::read(fd, p, size);
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int RunInChild(const std::function<int()>& fn) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return -1;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        int result = -1;
        try {
            result = fn();
        } catch (...) {
        }
        if (::write(fds[1], &result, sizeof result) != sizeof result) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    int result = -1;
    if (!ReadAll(fds[0], &result, sizeof result)) {
        result = -1;
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return result;
}

HoldingChild::HoldingChild(const std::string& path, bool exclusive) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::close(fds[0]);
        std::unique_ptr<Database> db;
        int result = ErrorNumberOf([&] {
            auto engine = MakeEngine();
            db = engine->OpenDatabase(path, exclusive, false, "");
        });
        if (::write(fds[1], &result, sizeof result) != sizeof result) {
            ::_exit(1);
        }
        while (true) {
            ::pause();
        }
    }
    ::close(fds[1]);
    if (!ReadAll(fds[0], &openResult_, sizeof openResult_)) {
        openResult_ = -1;
    }
    ::close(fds[0]);
}

HoldingChild::~HoldingChild() {
    Kill();
}

void HoldingChild::Kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

std::unique_ptr<Database> EngineTest::MakeTable(const std::string& file, int rows,
                                                const std::string& connect) {
    auto db = engine_->CreateDatabase(Path(file), connect);
    db->Execute("CREATE TABLE T (ID LONG PRIMARY KEY, Name TEXT(50))");
    db->BeginTrans();
    for (int i = 1; i <= rows; ++i) {
        db->Execute("INSERT INTO T VALUES (" + std::to_string(i) + ", 'Zeile " + std::to_string(i) +
                    "')");
    }
    db->CommitTrans();
    return db;
}

}  // namespace tarnu::engine::test
