#include "driver/option_suggestion.h"

#include <algorithm>
#include <vector>

namespace {

// The edits (insertions, deletions, substitutions) that turn a into b.
std::size_t editDistance(const std::string& a, const std::string& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

} // namespace

std::string optionSuggestion(const CLI::App& app, int argc, const char* const* argv)
{
    std::vector<std::string> known;
    for (const CLI::Option* option : app.get_options())
        for (const std::string& name : option->get_lnames())
            known.push_back("--" + name);
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--")
            break;
        if (arg.rfind("--", 0) != 0)
            continue;
        arg = arg.substr(0, arg.find('='));
        std::string best;
        std::size_t bestDistance = arg.size() / 3 + 1;
        for (const std::string& name : known) {
            const std::size_t distance = editDistance(arg, name);
            if (distance > 0 && distance < bestDistance) {
                best = name;
                bestDistance = distance;
            }
        }
        if (!best.empty() && std::find(known.begin(), known.end(), arg) == known.end())
            return "; did you mean " + best + "?";
    }
    return "";
}
