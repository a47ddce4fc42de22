// A private folder for one test's files, removed with everything in it.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TempFolder {
  public:
    TempFolder() {
        char pattern[] = "/tmp/usb3k-server-test-XXXXXX";
        path_ = mkdtemp(pattern) ? pattern : "";
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    // Writes `text` to the file `name` in the folder, with permissions `mode`; its path.
    std::string write(const std::string& name, const std::string& text, mode_t mode = 0600) {
        std::string file = path_ + "/" + name;
        std::ofstream(file, std::ios::binary) << text;
        chmod(file.c_str(), mode);
        return file;
    }

  private:
    std::string path_;
};
