// A fresh directory under /tmp for one test, removed with everything in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/qix-unit-XXXXXX";
        path_ = mkdtemp(pattern);
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
