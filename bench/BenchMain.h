#pragma once

#include "Platform/OpenSsl.h"

#include <benchmark/benchmark.h>

namespace ostrel::bench {

// The main of a benchmark that needs nothing but hashing set up before Google Benchmark runs.
inline int runBenchmarks(int argc, char** argv) {
    OpenSsl::init();
    ::benchmark::Initialize(&argc, argv);
    if (::benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    return 0;
}

} // namespace ostrel::bench
