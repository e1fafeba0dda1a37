// Verification speed on a 100 MB export (trailer only, as the playback program
// writes them, so the stream checksum walks the whole movi list before the
// trailer decides) and on 1,000 snapshots, beside `cat` over the same files.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "checker/verification.h"
#include "media/jpeg_snapshot_writer.h"
#include "media/watermark_writer.h"
#include "tests/checker/avi_fixture.h"
#include "tests/support/temp_folder.h"

namespace {

struct Files {
    TempFolder dir;
    std::string avi;
    uint64_t avi_bytes = 0;
    std::vector<std::string> snapshots;
    uint64_t snapshot_bytes = 0;
};

Files& Fixture() {
    static std::unique_ptr<Files> files = [] {
        auto f = std::make_unique<Files>();
        std::mt19937 rng(5);
        avifixture::Layout layout;
        layout.store_checksum = false;
        uint64_t total = 0;
        for (int i = 0; total < 100u * 1000 * 1000; ++i) {
            avifixture::Chunk c;
            c.id = i % 4 == 3 ? "01wb" : "00dc";
            c.data.resize(i % 4 == 3 ? 2000 : 30000 + rng() % 20000);
            for (auto& b : c.data) b = static_cast<uint8_t>(rng());
            total += c.data.size() + 8;
            layout.chunks.push_back(std::move(c));
        }
        const std::vector<uint8_t> bytes = avifixture::Build(layout).bytes;
        f->avi = f->dir.Sub("export.avi");
        std::ofstream(f->avi, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        AppendWatermarkTrailer(f->avi);
        f->avi_bytes = std::filesystem::file_size(f->avi);

        JpegSnapshotWriter writer;
        std::vector<std::vector<uint8_t>> pictures(8, std::vector<uint8_t>(640 * 360 * 3));
        for (size_t p = 0; p < pictures.size(); ++p)
            for (size_t i = 0; i < pictures[p].size(); ++i)
                pictures[p][i] = static_cast<uint8_t>((i % 1920) / 8 + (i / 1920) / 3 + p * 30 + (rng() & 15));
        for (int i = 0; i < 1000; ++i) {
            const std::string path = f->dir.Sub("snap" + std::to_string(i) + ".jpg");
            WatermarkWriter wm;
            writer.Save(path, pictures[i % pictures.size()].data(), 640, 360);
            InsertJpegWatermark(wm.file_copy, path);
            f->snapshots.push_back(path);
            f->snapshot_bytes += std::filesystem::file_size(path);
        }
        return f;
    }();
    return *files;
}

void Verify(benchmark::State& state, const std::vector<std::string>& paths, uint64_t bytes) {
    for (auto _ : state)
        for (const std::string& p : paths)
            if (VerifyFile(p) != "V") state.SkipWithError("verification failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * paths.size()));
}

void Cat(benchmark::State& state, const std::vector<std::string>& paths, uint64_t bytes) {
    std::string command = "cat";
    for (const std::string& p : paths) command += " '" + p + "'";
    command += " > /dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("cat failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * paths.size()));
}

void BM_VerifyExport(benchmark::State& state) { Verify(state, {Fixture().avi}, Fixture().avi_bytes); }
void BM_CatExport(benchmark::State& state) { Cat(state, {Fixture().avi}, Fixture().avi_bytes); }
void BM_VerifySnapshots(benchmark::State& state) { Verify(state, Fixture().snapshots, Fixture().snapshot_bytes); }
void BM_CatSnapshots(benchmark::State& state) { Cat(state, Fixture().snapshots, Fixture().snapshot_bytes); }

BENCHMARK(BM_VerifyExport)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CatExport)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VerifySnapshots)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CatSnapshots)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
