#pragma once

// What the fuzz targets share: a check that ends the run, a scratch folder and whole files.

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tarnu::fuzz {

inline void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz: %s\n", what);
        std::abort();
    }
}

// One folder for the whole run, in memory, removed when the run ends. Never destroyed itself:
// the removal runs after the statics are gone.
inline const std::string& ScratchFolder() {
    static const auto* folder = [] {
        auto* path = new std::string("/dev/shm/tarnu-fuzz-XXXXXX");
        Check(::mkdtemp(path->data()) != nullptr, "no temporary folder");
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(ScratchFolder(), ec);
        });
        return path;
    }();
    return *folder;
}

inline std::string ReadBytes(const std::string& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace tarnu::fuzz
