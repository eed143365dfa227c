#include "driver/sequence_report.h"

#include "driver/report.h"
#include "driver/scoring.h"
#include "version.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

void addDifferences(morvex::ViewResult& sum, const morvex::ViewResult& view)
{
    sum.pixels += view.pixels;
    sum.differOver1 += view.differOver1;
    sum.differOver2 += view.differOver2;
    sum.absDifferenceSum += view.absDifferenceSum;
}

} // namespace

PooledSequence poolSequence(const std::vector<FrameResult>& frames)
{
    PooledSequence pooled;
    double sumLeft = 0.0, sumRight = 0.0, sumScores = 0.0;
    float worst = 0.0f;
    for (const FrameResult& f : frames) {
        sumLeft += f.pair.left.error;
        sumRight += f.pair.right.error;
        addDifferences(pooled.differencesLeft, f.pair.left);
        addDifferences(pooled.differencesRight, f.pair.right);
        if (pooled.worstFrame < 0 || f.pair.score < worst) {
            worst = f.pair.score;
            pooled.worstFrame = f.frame;
        }
        if (!std::isfinite(f.pair.score))
            continue;
        const double s = f.pair.score;
        pooled.minScore = pooled.finiteFrames == 0 ? s : std::min(pooled.minScore, s);
        pooled.maxScore = pooled.finiteFrames == 0 ? s : std::max(pooled.maxScore, s);
        sumScores += s;
        ++pooled.finiteFrames;
    }
    const double n = static_cast<double>(frames.size());
    pooled.errorLeft = static_cast<float>(sumLeft / n);
    pooled.errorRight = static_cast<float>(sumRight / n);
    pooled.score = morvex::combineViewErrors(pooled.errorLeft, pooled.errorRight);
    if (pooled.finiteFrames > 0)
        pooled.meanScore = sumScores / pooled.finiteFrames;
    return pooled;
}

namespace {

std::string exactText(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// Rows of the --csv file, written when the run has succeeded; "-" is the
// standard output.
class CsvFile {
public:
    CsvFile(const std::string& path, std::ostream& out) : path_(path), out_(out)
    {
        rows_ << "frame,score,error_left,error_right,share_over_1_left,share_over_1_right,share_over_2_left,"
                 "share_over_2_right,mean_abs_difference_left,mean_abs_difference_right\n";
    }
    void row(const FrameResult& f)
    {
        const morvex::ViewResult& l = f.pair.left;
        const morvex::ViewResult& r = f.pair.right;
        rows_ << f.frame << ',' << exactText(f.pair.score) << ',' << exactText(l.error) << ',' << exactText(r.error);
        for (double value : {l.shareOver1(), r.shareOver1(), l.shareOver2(), r.shareOver2(), l.meanAbsDifference(),
                             r.meanAbsDifference()})
            rows_ << ',' << exactText(value);
        rows_ << '\n';
    }
    void write()
    {
        if (path_.empty())
            return;
        if (path_ == "-") {
            out_ << rows_.str();
            return;
        }
        errno = 0;
        std::ofstream file(path_, std::ios::trunc);
        file << rows_.str();
        file.close();
        if (!file)
            throw std::runtime_error(path_ + ": cannot write the CSV file" +
                             (errno ? ": " + std::string(std::strerror(errno)) : std::string()));
    }

private:
    std::string path_;
    std::ostream& out_;
    std::ostringstream rows_;
};

// The frame lines are held back until the run has succeeded, so that a
// failing frame leaves nothing on the standard output that looks like a result.
class TextWriter : public SequenceWriter {
public:
    TextWriter(std::ostream& out, const std::string& csvPath) : out_(out), csv_(csvPath, out) {}
    void frame(const FrameResult& f) override
    {
        lines_ << "Frame " << f.frame << ": MORVEX Score: " << f.pair.score << '\n';
        csv_.row(f);
    }
    void finish(const PooledSequence& pooled, int start) override
    {
        csv_.write();
        out_ << lines_.str();
        writeScoreLine(out_, pooled.score);
        writeTimeLine(out_, secondsSince(start));
    }

private:
    std::ostream& out_;
    std::ostringstream lines_;
    CsvFile csv_;
};

nlohmann::ordered_json numberOrNull(double value)
{
    if (!std::isfinite(value))
        return nullptr;
    return nlohmann::ordered_json::parse(exactText(value));
}

void addDifferenceFields(nlohmann::ordered_json& object, const morvex::ViewResult& left, const morvex::ViewResult& right)
{
    object["share_over_1_left"] = numberOrNull(left.shareOver1());
    object["share_over_1_right"] = numberOrNull(right.shareOver1());
    object["share_over_2_left"] = numberOrNull(left.shareOver2());
    object["share_over_2_right"] = numberOrNull(right.shareOver2());
    object["mean_abs_difference_left"] = numberOrNull(left.meanAbsDifference());
    object["mean_abs_difference_right"] = numberOrNull(right.meanAbsDifference());
}

class JsonWriter : public SequenceWriter {
public:
    JsonWriter(std::ostream& out, const Options& options) : out_(out), options_(options), csv_(options.csvPath, out) {}
    void frame(const FrameResult& f) override
    {
        frames_.push_back({
            {"frame", f.frame},
            {"score", numberOrNull(f.pair.score)},
            {"score_text", morvex::formatFloat(f.pair.score)},
            {"error_left", numberOrNull(f.pair.left.error)},
            {"error_right", numberOrNull(f.pair.right.error)},
        });
        addDifferenceFields(frames_.back(), f.pair.left, f.pair.right);
        csv_.row(f);
    }
    void finish(const PooledSequence& pooled, int start) override
    {
        csv_.write();
        const float seconds = secondsSince(start);
        nlohmann::ordered_json doc;
        doc["version"] = MORVEX_VERSION;
        doc["frames"] = frames_;
        nlohmann::ordered_json p;
        p["score"] = numberOrNull(pooled.score);
        p["score_text"] = morvex::formatFloat(pooled.score);
        p["error_left"] = numberOrNull(pooled.errorLeft);
        p["error_right"] = numberOrNull(pooled.errorRight);
        const bool any = pooled.finiteFrames > 0;
        p["mean_frame_score"] = any ? numberOrNull(pooled.meanScore) : nullptr;
        p["min_frame_score"] = any ? numberOrNull(pooled.minScore) : nullptr;
        p["max_frame_score"] = any ? numberOrNull(pooled.maxScore) : nullptr;
        p["worst_frame"] = pooled.worstFrame;
        addDifferenceFields(p, pooled.differencesLeft, pooled.differencesRight);
        doc["pooled"] = p;
        // As the time line prints it: the clock counts whole milliseconds.
        doc["computational_time"] = nlohmann::ordered_json::parse(morvex::formatFloat(seconds));
        doc["inputs"] = inputsJson(options_.paths);
        out_ << doc.dump(2) << std::endl;
    }

private:
    std::ostream& out_;
    const Options& options_;
    CsvFile csv_;
    nlohmann::ordered_json frames_ = nlohmann::ordered_json::array();
};

} // namespace

std::unique_ptr<SequenceWriter> makeSequenceWriter(const Options& options, std::ostream& out)
{
    if (options.json)
        return std::make_unique<JsonWriter>(out, options);
    return std::make_unique<TextWriter>(out, options.csvPath);
}
