// Decoding of a daemon-information-sized attribute stream: every entry read
// back, in the written order (each lookup then reads one entry, thanks to
// the cursor) and, for contrast, in reverse order (each lookup wraps
// around). Items are entries read.
//
// Run: ./build/bin/RpcAttrStreamBench
#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/rcApi/rcAttrStream.h"

namespace {

struct Field {
    std::string name;
    std::string value;
};

// The shape of a server description: addresses, ports, names, versions.
std::vector<Field> daemonRecord() {
    std::vector<Field> fields;
    for (int i = 0; i < 5; ++i) {
        fields.push_back({"IP" + std::to_string(i), i < 2 ? "192.0.2." + std::to_string(10 + i) : ""});
        fields.push_back({"FrameIP" + std::to_string(i), i < 2 ? "198.51.100." + std::to_string(20 + i) : ""});
    }
    const Field rest[] = {{"Hostname", "mediahost-07"},
                          {"HostName", "mediahost-07.studio.example"},
                          {"DisplayName", "Studio 7 main store"},
                          {"OSType", "2"},
                          {"Database", "OBRAN"},
                          {"NodePort", "7549"},
                          {"FramePort", "7550"},
                          {"VersionMajor", "4"},
                          {"VersionMinor", "12"},
                          {"VersionPatch", "3"},
                          {"VersionBuild", "1187"},
                          {"Product", "Corvane Media Server"},
                          {"ProductVersion", "4.12.3.1187"},
                          {"StorageId", "3f2b8c1e-55aa-4e0b-9d7f-0c1a2b3c4d5e"},
                          {"HostUUID", "0f8e7c44-5a36-4c6b-9d0e-3b2a1c0d9e8f"}};
    fields.insert(fields.end(), std::begin(rest), std::end(rest));
    return fields;
}

std::string encode(const std::vector<Field>& fields) {
    Corvane::rcAttrStream s;
    for (const Field& f : fields)
        s.addStringValue(f.name.c_str(), f.value.c_str());
    return s.str();
}

void decode(benchmark::State& state, bool inOrder) {
    const std::vector<Field> fields = daemonRecord();
    const std::string text = encode(fields);
    std::string value;
    for (auto _ : state) {
        const Corvane::rcAttrStream s(text);
        for (size_t i = 0; i < fields.size(); ++i) {
            const Field& f = fields[inOrder ? i : fields.size() - 1 - i];
            if (!s.getValue(f.name.c_str(), value)) {
                state.SkipWithError("missing entry");
                return;
            }
        }
        benchmark::DoNotOptimize(value);
        if (inOrder && s.cursorSteps() != fields.size()) {
            state.SkipWithError("a lookup in written order read more than one entry");
            return;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * fields.size()));
    state.counters["entries"] = static_cast<double>(fields.size());
    state.counters["bytes"] = static_cast<double>(text.size());
}

void BM_DecodeInWrittenOrder(benchmark::State& state) { decode(state, true); }
void BM_DecodeInReverseOrder(benchmark::State& state) { decode(state, false); }
BENCHMARK(BM_DecodeInWrittenOrder);
BENCHMARK(BM_DecodeInReverseOrder);

}  // namespace

BENCHMARK_MAIN();
