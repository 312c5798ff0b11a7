// Runs a shell command and keeps what it printed: for the tests that run
// ktr09-sim, ktr09-config and the outside tools as a user would.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct ToolRun {
    int status = -1;     // exit code, -1 when it did not run or end normally
    std::string output;  // stdout, and stderr unless it was sent elsewhere
};

// With `with_stderr` the command's stderr joins its stdout, otherwise it is
// dropped.
inline ToolRun run_tool(const std::string& command, bool with_stderr = true) {
    ToolRun run;
    const std::string redirected = command + (with_stderr ? " 2>&1" : " 2>/dev/null");
    if (FILE* pipe = popen(redirected.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            run.output.append(buffer, n);
        }
        const int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}
