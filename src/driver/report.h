#pragma once

#include "readers/input_files.h"

#include <nlohmann/json.hpp>

#include <ostream>


// "MORVEX Score: S" and its end of line.
void writeScoreLine(std::ostream& out, float score);

// "Computational Time: T(sec)" and an empty line.
void writeTimeLine(std::ostream& out, float seconds);

// The seven input paths as a JSON object.
nlohmann::ordered_json inputsJson(const InputPaths& paths);

// The result as one JSON document.
void writeJsonResult(std::ostream& out, const InputPaths& paths, const morvex::PairResult& result, float seconds);
