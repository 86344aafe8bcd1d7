// The policy update request codec against protobuf-c on an equivalent
// message (plcy_update.proto): encode and decode of a request with 1, 64
// and 1000 ACE records, every presence bit set. Each side works from its own
// in-memory form and includes its own allocations: ours hands out a malloc'ed
// encoding (freed in the loop) and decodes into a caller-provided record;
// protobuf-c packs into a buffer malloc'ed at its packed size and unpacks
// into a message tree that free_unpacked releases.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <benchmark/benchmark.h>

#include "codec_fixture.h"

namespace {

using bench::CodecFixture;

void report(benchmark::State &state, const CodecFixture &fx, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                            fx.aces());
    state.counters["encoded_bytes"] = static_cast<double>(bytes);
    state.counters["aces"] = fx.aces();
}

void BM_OurEncode(benchmark::State &state) {
    CodecFixture fx(static_cast<uint32_t>(state.range(0)));
    for (auto _ : state) {
        uint8_t *buf = nullptr;
        uint32_t len = 0;
        uint32_t err_type = 0;
        if (ostrel_api_plcy_update_req_to_tlv(fx.record(), &buf, &len, 0,
                                              &err_type, 0) != 0) {
            state.SkipWithError("encode failed");
            break;
        }
        benchmark::DoNotOptimize(buf);
        std::free(buf);
    }
    report(state, fx, fx.tlv_len());
}

void BM_OurDecode(benchmark::State &state) {
    CodecFixture fx(static_cast<uint32_t>(state.range(0)));
    std::unique_ptr<uint8_t, ostrel::free_deleter> rec(
        static_cast<uint8_t *>(std::calloc(1, fx.record_size())));
    for (auto _ : state) {
        if (ostrel_api_plcy_update_req_to_struct(
                fx.tlv(), fx.tlv_len(), rec.get(), fx.record_size()) != 0) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    if (std::memcmp(rec.get(), fx.record(), fx.record_size()) != 0) {
        state.SkipWithError("decoded record differs from the original");
    }
    report(state, fx, fx.tlv_len());
}

void BM_ProtobufCPack(benchmark::State &state) {
    CodecFixture fx(static_cast<uint32_t>(state.range(0)));
    for (auto _ : state) {
        const size_t size =
            benchpb__plcy_update_req__get_packed_size(fx.message());
        auto *buf = static_cast<uint8_t *>(std::malloc(size));
        if (buf == nullptr ||
            benchpb__plcy_update_req__pack(fx.message(), buf) != size) {
            std::free(buf);
            state.SkipWithError("pack failed");
            break;
        }
        benchmark::DoNotOptimize(buf);
        std::free(buf);
    }
    report(state, fx, fx.packed_len());
}

void BM_ProtobufCUnpack(benchmark::State &state) {
    CodecFixture fx(static_cast<uint32_t>(state.range(0)));
    for (auto _ : state) {
        Benchpb__PlcyUpdateReq *msg = benchpb__plcy_update_req__unpack(
            nullptr, fx.packed_len(), fx.packed());
        if (msg == nullptr || msg->n_aces != fx.aces()) {
            state.SkipWithError("unpack failed");
            break;
        }
        benchmark::DoNotOptimize(msg);
        benchpb__plcy_update_req__free_unpacked(msg, nullptr);
    }
    report(state, fx, fx.packed_len());
}

void sizes(benchmark::internal::Benchmark *b) {
    b->ArgName("aces")->Arg(1)->Arg(64)->Arg(1000);
}

} // namespace

BENCHMARK(BM_OurEncode)->Apply(sizes);
BENCHMARK(BM_ProtobufCPack)->Apply(sizes);
BENCHMARK(BM_OurDecode)->Apply(sizes);
BENCHMARK(BM_ProtobufCUnpack)->Apply(sizes);
