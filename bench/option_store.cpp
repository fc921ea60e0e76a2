// Loading and storing the whole option set through the key store, on a hive in a temporary folder.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "config/option_store.h"
#include "config/options.h"
#include "config/program.h"
#include "config/registry_tools.h"
#include "platform/files.h"
#include "platform/registry_hive.h"

namespace {

struct BenchHive {
    std::filesystem::path dir;
    BenchHive() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "ktrsvc-bench-XXXXXX").string();
        if (mkdtemp(tmpl.data())) dir = tmpl;
        setenv("KTRSVC_REGISTRY", (dir / "registry.db").c_str(), 1);
        ktr::platform::set_program_folder(dir.string());
        ktr::platform::close_registry_hive();
        auto& program = ktr::config::program();
        program.registry_root = ktr::config::kHkeyUsers;
        program.options_key = ".DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Options";
        ktr::config::CreateNewKey(program.options_key, program.registry_root);
        ktr::config::COptions o;
        ktr::config::set_option_defaults(o);
        ktr::config::key_store::Registry_Set(program.options_key, o);
    }
    ~BenchHive() {
        ktr::platform::close_registry_hive();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

void BM_Registry_Get(benchmark::State& state) {
    BenchHive hive;
    ktr::config::COptions o;
    for (auto _ : state) benchmark::DoNotOptimize(ktr::config::key_store::Registry_Get(o, "Ktrsvc"));
}
BENCHMARK(BM_Registry_Get)->Unit(benchmark::kMillisecond);

void BM_Registry_Set(benchmark::State& state) {
    BenchHive hive;
    ktr::config::COptions o;
    ktr::config::set_option_defaults(o);
    for (auto _ : state) benchmark::DoNotOptimize(ktr::config::key_store::Registry_Set(ktr::config::program().options_key, o));
}
BENCHMARK(BM_Registry_Set)->Unit(benchmark::kMillisecond);

void BM_RegistryGet(benchmark::State& state) {
    BenchHive hive;
    ktr::config::COptions o;
    ktr::config::set_option_defaults(o);
    ktr::config::app_settings::RegistrySet(o, "Ktrsvc");
    for (auto _ : state) benchmark::DoNotOptimize(ktr::config::app_settings::RegistryGet(o, "Ktrsvc"));
}
BENCHMARK(BM_RegistryGet)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
