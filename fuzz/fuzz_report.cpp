// libFuzzer target: composing the error report from arbitrary fields (the source line cut
// around the error, the reason's line end, the report text and its saved entry).

#include "fuzz/FuzzInputs.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString problem = fuzz::reportCompositionProblem(data, size);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "broken promise: %s\n", qPrintable(problem));
        std::abort();
    }
    return 0;
}
