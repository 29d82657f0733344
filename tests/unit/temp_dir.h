// A fresh directory under /tmp for one test, removed with everything in it.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class TempDir {
  public:
    explicit TempDir(const std::string& base = "/tmp") {
        std::string pattern = base + "/qix-unit-XXXXXX";
        path_ = mkdtemp(&pattern[0]);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }

    const std::string& path() const { return path_; }

    std::string file(const std::string& name, const std::string& bytes = "") const {
        std::string full = path_ + "/" + name;
        std::ofstream(full, std::ios::binary) << bytes;
        return full;
    }

  private:
    std::string path_;
};

inline std::string readAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// How many descriptors the process has open.
inline long openDescriptors() {
    return static_cast<long>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                           std::filesystem::directory_iterator()));
}

// The names in a directory, sorted.
inline std::vector<std::string> namesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}
