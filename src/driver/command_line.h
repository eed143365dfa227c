#pragma once

// The whole tool: parses the command line, scores with `metric`, writes the
// results or a one-line error, and returns the exit status.
int runCommandLine(int argc, char** argv);
