// The command line, its arguments separated by NUL bytes, and the frame file patterns it
// names: those without a '/' are tried in a directory holding a few
// numbered files.
#include "readers/frame_source.h"
#include "driver/options.h"
#include "fuzz_input.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool files = [] {
        for (const char* name : {"f0", "f1", "f2", "f01", "f 1", "f%1", "f10"})
            writeInput(reinterpret_cast<const std::uint8_t*>(""), 0, name);
        return true;
    }();
    std::vector<std::string> words{"morvex"};
    std::string word;
    for (std::size_t k = 0; k < size; ++k) {
        if (data[k] == '\0') {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[k]);
        }
    }
    words.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& w : words)
        argv.push_back(w.c_str());
    const ParsedCommandLine parsed = parseCommandLine(static_cast<int>(argv.size()), argv.data());
    if (parsed.exitStatus || !files)
        return 0;
    for (int i = 0; i < 6; ++i) {
        const std::string& path = parsed.options.paths[i];
        if (path.find('%') == std::string::npos || path.find('/') != std::string::npos)
            continue;
        try {
            FrameSource::open(fuzzDirectory() + "/" + path, static_cast<morvex::Input>(i), parsed.options.sequenceFormat);
        } catch (const morvex::Error&) {
        }
    }
    return 0;
}
