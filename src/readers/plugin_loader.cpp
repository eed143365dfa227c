#include "readers/plugin_loader.h"

#include <dlfcn.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

const char* const kImageCodecsPlugin = MORVEX_IMAGE_CODECS_PLUGIN;
const char* const kDisplayPlugin = MORVEX_DISPLAY_PLUGIN;

namespace {

namespace fs = std::filesystem;

// The directories searched, in order: that of the shared object holding
// this code (the Python module), if it is not the executable; the
// executable's own; then the plugin directory of an install, relative to
// the executable's.
std::vector<fs::path> pluginDirectories()
{
    std::vector<fs::path> directories;
    std::error_code ec;
    const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&pluginFunction), &info) != 0 && info.dli_fname != nullptr) {
        const fs::path holder = fs::weakly_canonical(info.dli_fname, ec);
        if (!ec && holder.is_absolute() && holder != executable)
            directories.push_back(holder.parent_path());
    }
    if (!executable.empty()) {
        const fs::path own = executable.parent_path();
        directories.push_back(own);
        directories.push_back((own / MORVEX_INSTALLED_PLUGIN_DIR).lexically_normal());
    }
    return directories;
}

void* loadPlugin(const char* plugin)
{
    const std::vector<fs::path> directories = pluginDirectories();
    std::string searched;
    for (const fs::path& directory : directories) {
        const fs::path file = directory / plugin;
        std::error_code ec;
        if (!fs::exists(file, ec)) {
            searched += (searched.empty() ? "" : " nor in ") + directory.string();
            continue;
        }
        if (void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL))
            return handle;
        throw PluginError(file.string() + " cannot be loaded: " + dlerror());
    }
    if (directories.empty())
        throw PluginError(std::string(plugin) + " cannot be found: the executable's path is unknown");
    throw PluginError(std::string(plugin) + " is missing: it is neither in " + searched);
}

} // namespace

void* pluginFunction(const char* plugin, const char* symbol)
{
    static std::mutex lock;
    static std::map<std::string, void*> loaded;
    std::lock_guard<std::mutex> hold(lock);
    void*& handle = loaded[plugin];
    if (handle == nullptr)
        handle = loadPlugin(plugin);
    dlerror();
    void* function = dlsym(handle, symbol);
    if (function == nullptr)
        throw PluginError(std::string(plugin) + " lacks the function " + symbol + ": it does not belong to this build");
    return function;
}
