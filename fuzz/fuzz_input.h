#pragma once

// The fuzzer's bytes as a file, for readers that take a path: one file per
// process and suffix, in a directory of its own that is removed at exit.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

inline const std::string& fuzzDirectory()
{
    // Never destroyed: the exit handler that removes it runs after static destructors.
    static const std::string& dir = *new std::string([] {
        const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string name = std::string(base) + "/morvex-fuzz-XXXXXX";
        if (::mkdtemp(&name[0]) == nullptr)
            std::abort();
        std::atexit([] { std::filesystem::remove_all(fuzzDirectory()); });
        return name;
    }());
    return dir;
}

inline std::string writeInput(const std::uint8_t* data, std::size_t size, const std::string& name)
{
    const std::string path = fuzzDirectory() + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                   static_cast<std::streamsize>(size));
    return path;
}
