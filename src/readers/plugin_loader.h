#pragma once

#include <stdexcept>
#include <string>

// A plugin that cannot be loaded; the message names its file and why.
struct PluginError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The plugin files, as the build names them.
extern const char* const kImageCodecsPlugin;
extern const char* const kDisplayPlugin;

// The function `symbol` of the plugin file `plugin`, which is loaded on first
// use (once per process, from any thread): from beside the executable, as
// in the build tree, or else from the installed plugin directory. Throws
// PluginError.
void* pluginFunction(const char* plugin, const char* symbol);
