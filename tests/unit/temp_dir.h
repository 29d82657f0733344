// A fresh directory under /tmp for one test, removed with everything in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

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
