#include "driver/report.h"

#include "version.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>

void writeScoreLine(std::ostream& out, float score)
{
    out << "MORVEX Score: " << score << std::endl;
}

void writeTimeLine(std::ostream& out, float seconds)
{
    out << "Computational Time: " << seconds << "(sec)" << std::endl << std::endl;
}

namespace {

// A float with 9 significant digits, enough to restore it exactly; null when
// it is not finite (JSON has no infinity or NaN).
nlohmann::ordered_json exactNumber(float value)
{
    if (!std::isfinite(value))
        return nullptr;
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return nlohmann::ordered_json::parse(text);
}

nlohmann::ordered_json exactDouble(double value)
{
    if (!std::isfinite(value))
        return nullptr;
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return nlohmann::ordered_json::parse(text);
}

nlohmann::ordered_json viewJson(const morvex::ViewResult& view)
{
    return {
        {"error", exactNumber(view.error)},
        {"counted_pixels", view.countedPixels},
        {"disagreeing_pixels", view.disagreeingPixels},
        {"share_over_1", exactDouble(view.shareOver1())},
        {"share_over_2", exactDouble(view.shareOver2())},
        {"mean_abs_difference", exactDouble(view.meanAbsDifference())},
    };
}

} // namespace

nlohmann::ordered_json inputsJson(const InputPaths& paths)
{
    nlohmann::ordered_json inputs;
    const char* const keys[] = {"left_view",    "right_view",   "depth_left_a", "depth_right_a",
                                           "depth_left_b", "depth_right_b", "camera_file"};
    for (std::size_t i = 0; i < paths.size(); ++i)
        inputs[keys[i]] = paths[i];
    return inputs;
}

void writeJsonResult(std::ostream& out, const InputPaths& paths, const morvex::PairResult& result, float seconds)
{

    nlohmann::ordered_json doc;
    doc["version"] = MORVEX_VERSION;
    doc["score"] = exactNumber(result.score);
    doc["score_text"] = morvex::formatFloat(result.score);
    // As the time line prints it: the clock counts whole milliseconds.
    doc["computational_time"] = nlohmann::ordered_json::parse(morvex::formatFloat(seconds));
    doc["left"] = viewJson(result.left);
    doc["right"] = viewJson(result.right);
    doc["inputs"] = inputsJson(paths);
    // File names need not be UTF-8; their stray bytes become U+FFFD rather
    // than invalid JSON.
    out << doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << std::endl;
}
