#include "driver/command_line.h"

#include "driver/options.h"
#include "driver/run.h"
#include "driver/settings.h"
#include "readers/large_allocations.h"

#include <opencv2/core/utils/logger.hpp>

#include <exception>
#include <iostream>
#include <string>

namespace {

void reportError(const std::string& message)
{
    std::cerr << "morvex: " << oneLine(message) << std::endl;
}

} // namespace

int runCommandLine(int argc, char** argv)
{
    keepLargeAllocations();
    // The tool reports its own errors, one line each; the image library's
    // log lines would only repeat them.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);

    try {
        const ParsedCommandLine parsed = parseCommandLine(argc, argv);
        if (parsed.exitStatus)
            return *parsed.exitStatus;
        g_printPhases = parsed.options.printPhases;
        g_showMaps = parsed.options.showMaps;
        return runScoring(parsed.options, std::cout, std::cerr);
    } catch (const UsageError& e) {
        reportError(e.what());
        std::cerr << usageLine() << std::endl;
        return kExitUsage;
    } catch (const morvex::Error& e) {
        reportError(e.what());
    } catch (const cv::Exception& e) {
        reportError("image library error: " + e.err + " (in " + e.func + ")");
    } catch (const std::bad_alloc&) {
        reportError("out of memory");
    } catch (const std::exception& e) {
        reportError(e.what());
    } catch (...) {
        reportError("unexpected error");
    }
    return kExitError;
}
