#include <benchmark/benchmark.h>

#include "config/options.h"

static void BM_CopyOptions(benchmark::State& state) {
    ktr::config::COptions a, b;
    ktr::config::set_option_defaults(a);
    for (auto _ : state) {
        a.Copy_Object_to(b);
        benchmark::DoNotOptimize(b);
    }
}
BENCHMARK(BM_CopyOptions);
BENCHMARK_MAIN();
