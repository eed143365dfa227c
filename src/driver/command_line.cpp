#include "driver/command_line.h"

#include "driver/options.h"
#include "driver/run.h"
#include "driver/settings.h"

#include <opencv2/core/utils/logger.hpp>

#include <exception>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <iostream>
#include <string>

namespace {

void reportError(const std::string& message)
{
    std::cerr << "morvex: " << oneLine(message) << std::endl;
}

} // namespace

// Every view allocates a few dozen image-sized maps. Served from one heap
// and kept there between views and frames, they are not mapped, zeroed and
// unmapped by the kernel each time, which otherwise costs about a third of
// the run. One arena for all threads: the per-thread arenas of a sequence
// run would hand whole heaps back to the kernel after every frame, and the
// few allocations per frame hardly contend for the lock.
static void keepLargeAllocations()
{
#ifdef __GLIBC__
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
#endif
}

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
