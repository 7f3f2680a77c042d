// Helpers shared by the fuzz targets: a private working folder and a check that stops the run.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz {

// A failed property is a finding like a crash: print it and abort, so libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// A fresh folder under the temporary directory, made on the first call and removed when the
// process exits normally. The working directory stays where it is: libFuzzer reads the corpus
// and writes crash inputs relative to it.
inline const std::string& tempFolder(const char* prefix) {
    static std::string dir;
    if (!dir.empty()) return dir;
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + ".XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    dir = pattern;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    });
    return dir;
}

}  // namespace fuzz
