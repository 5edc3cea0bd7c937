#include "tests/copy/copy_test_util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace tarnu::test {

using copycases::Kind;

copycases::Tree ReadTree(const std::string& dir) {
    copycases::Tree tree;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string path = it->path().string().substr(dir.size() + 1);
        if (it->is_symlink()) {
            tree.push_back({Kind::Link, path, fs::read_symlink(it->path()).string()});
        } else if (it->is_directory()) {
            tree.push_back({Kind::Folder, path, {}});
        } else {
            tree.push_back({Kind::File, path, ReadFile(it->path().string())});
        }
    }
    std::sort(tree.begin(), tree.end());
    return tree;
}

void MakeTree(const std::string& dir, const copycases::Tree& tree) {
    for (const auto& entry : tree) {
        const std::string path = dir + "/" + entry.path;
        bool ok = true;
        switch (entry.kind) {
            case Kind::Folder:
                ok = ::mkdir(path.c_str(), 0755) == 0;
                break;
            case Kind::Link:
                ok = ::symlink(entry.data.c_str(), path.c_str()) == 0;
                break;
            case Kind::File:
                WriteFile(path, entry.data);
                break;
        }
        if (!ok) {
            throw std::runtime_error("cannot make " + path);
        }
    }
}

std::vector<std::string> TempLeftovers(const std::string& dir) {
    std::vector<std::string> found;
    for (const auto& entry : ReadTree(dir)) {
        if (posix::IsCopyTempName(fs::path(entry.path).filename().string())) {
            found.push_back(entry.path);
        }
    }
    return found;
}

}  // namespace tarnu::test
