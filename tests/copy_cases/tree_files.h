#pragma once

// The copy cases' trees made and read on real folders with the standard library's file
// functions, so that every runner uses the same code.

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "tests/copy_cases/shell_copy_cases.h"
#include "tests/support/temp_dir.h"

namespace tarnu::copycases {

// Everything below dir (not dir itself), sorted by path. A link the platform shows as one is
// read as a link and never followed; under Wine a link shows as what it leads to.
inline Tree ReadTree(const std::string& dir) {
    namespace fs = std::filesystem;
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string path = it->path().lexically_relative(dir).generic_string();
        if (it->is_symlink()) {
            tree.push_back(Link(path, fs::read_symlink(it->path()).string()));
        } else if (it->is_directory()) {
            tree.push_back(Folder(path));
        } else {
            tree.push_back(File(path, test::ReadFile(it->path().string())));
        }
    }
    std::sort(tree.begin(), tree.end());
    return tree;
}

// Makes the entries of tree below dir, in order; a link through makeLink(target, path), since
// Wine's own function for links makes none.
using MakeLink = std::function<void(const std::string& target, const std::string& path)>;
inline void MakeTree(
    const std::string& dir, const Tree& tree,
    const MakeLink& makeLink = [](const std::string& target, const std::string& path) {
        std::filesystem::create_symlink(target, path);
    }) {
    for (const Entry& e : tree) {
        const std::string path =
            (std::filesystem::path(dir) / std::filesystem::path(e.path).make_preferred()).string();
        if (e.kind == Kind::Folder) {
            std::filesystem::create_directory(path);
        } else if (e.kind == Kind::File) {
            test::WriteFile(path, e.data);
        } else {
            makeLink(e.data, path);
        }
    }
}

}  // namespace tarnu::copycases
