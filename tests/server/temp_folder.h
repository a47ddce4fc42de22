// A private folder for one test's files, removed with everything in it.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

class TempFolder {
  public:
    ~TempFolder() { std::filesystem::remove_all(path_); }

    const std::string& path() const { return path_; }
    // The path of `name` in the folder; with `text`, the file written with permissions `mode`.
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string write(const std::string& name, const std::string& text, mode_t mode = 0600) {
        std::ofstream(file(name), std::ios::binary) << text;
        chmod(file(name).c_str(), mode);
        return file(name);
    }

  private:
    char pattern_[32] = "/tmp/usb3k-server-test-XXXXXX";
    std::string path_ = mkdtemp(pattern_) ? pattern_ : "/nonexistent";
};
