// Files of the converters' unit tests: a private temporary folder and whole-file reading.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdlib.h>
#include <string>

namespace zmtest {

// A fresh folder below /tmp, removed with everything in it at the end of the scope.
struct TempFolder {
    std::string path;
    TempFolder()
    {
        char pattern[] = "/tmp/zm-converter-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path = made ? made : "";
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};

inline std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace zmtest
