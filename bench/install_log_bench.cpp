// What one Install.log entry costs besides its 100 ms pause, on an empty log
// and on a log of 10,000 entries. Runs on a machine whose pauses cost no real
// time (w32 init --fast --sleep-scale 0), so what is measured is the entry's
// own work: time, formatting and the profile writer's read-modify-write.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/frame.h"

namespace {

std::string g_machine;

void UseFolder(const char* name) {
    std::string host = g_machine + "/drives/c/" + name;
    std::string cmd = "mkdir -p '" + host + "'";
    if (system(cmd.c_str()) != 0) abort();
    snprintf(g_productFolder, MAX_PATH, "C:\\%s", name);
    snprintf(g_modulePath, MAX_PATH, "C:\\Program Files\\Tessaly\\Nimbrel\\SpanGuard.exe");
}

void BM_EntryOnEmptyLog(benchmark::State& state) {
    UseFolder("empty");
    std::string log = g_machine + "/drives/c/empty/Install.log";
    for (auto _ : state) {
        state.PauseTiming();
        unlink(log.c_str());
        state.ResumeTiming();
        WriteInstallLog(kLevelInfo, "チェック対象パス(C:\\Program Files\\Tessaly)", 120);
    }
}
BENCHMARK(BM_EntryOnEmptyLog)->Unit(benchmark::kMillisecond);

void BM_EntryOn10000EntryLog(benchmark::State& state) {
    UseFolder("full");
    static bool filled = false;
    if (!filled) {
        for (int i = 0; i < 10000; ++i) WriteInstallLog(kLevelInfo, "チェック対象パス(C:\\Program Files\\Tessaly)", i);
        filled = true;
    }
    for (auto _ : state) WriteInstallLog(kLevelWarning, "ファイルの削除に失敗しました。(C:\\x)", 120);
}
BENCHMARK(BM_EntryOn10000EntryLog)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const char* machine = getenv("W32_MACHINE");
    if (!machine) {
        fprintf(stderr, "set W32_MACHINE to a machine made with 'w32 init --fast --sleep-scale 0'\n");
        return 2;
    }
    g_machine = machine;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
