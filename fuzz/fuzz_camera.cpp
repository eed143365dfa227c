// The camera file, as text and as a file; both readers must agree.
#include "fuzz_input.h"

#include <morvex/morvex.h>

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string fromText, fromFile;
    try {
        morvex::Camera::fromText(text);
    } catch (const morvex::Error& e) {
        fromText = e.problem();
    }
    const std::string path = writeInput(data, size, "camera.txt");
    try {
        morvex::Camera::fromFile(path);
    } catch (const morvex::Error& e) {
        fromFile = e.problem();
    }
    // The text ends at a NUL; the file does not.
    if (std::memchr(data, 0, size) == nullptr && fromText != fromFile)
        std::abort();
    return 0;
}
