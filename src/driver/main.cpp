#include "driver/options.h"
#include "driver/run.h"
#include "driver/settings.h"

#include <opencv2/core/utils/logger.hpp>

#include <exception>
#include <iostream>

int main(int argc, char** argv)
{
    // The tool reports its own errors, one line each; the image library's
    // log lines would only repeat them.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);

    const ParsedCommandLine parsed = parseCommandLine(argc, argv);
    if (parsed.exitStatus)
        return *parsed.exitStatus;
    g_printPhases = parsed.options.printPhases;
    g_showMaps = parsed.options.showMaps;

    try {
        return runScoring(parsed.options, std::cout, std::cerr);
    } catch (const UsageError& e) {
        std::cerr << "morvex: " << e.what() << "\n" << usageLine() << std::endl;
        return kExitUsage;
    } catch (const InputError& e) {
        std::cerr << "morvex: " << e.what() << std::endl;
    } catch (const cv::Exception& e) {
        std::cerr << "morvex: image library error: " << e.err << " (in " << e.func << ")" << std::endl;
    } catch (const std::bad_alloc&) {
        std::cerr << "morvex: out of memory" << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "morvex: " << e.what() << std::endl;
    }
    return kExitError;
}
