// Inflate throughput against libdeflate and zlib on the same data in
// memory: generated text, real machine code (the system's shared libraries
// when present) and a mix of both with some incompressible bytes, deflated
// once by zlib at level 6. Every decoder writes into a buffer in memory; ours
// computes the CRC-32 on the way, so the peers' times include their own
// CRC-32 of the output (libdeflate_crc32, zlib's crc32).
//
// Ours decodes into its own window and hands the output on in blocks, which
// a buffer in memory must then copy. Extraction hands them to the file
// system and testing only checks their CRC-32, so neither pays that copy:
// BM_QuvInflateChecked measures ours as testing runs it, each block's CRC
// and nothing else.
//
//   quv_inflate_bench [--benchmark_filter=...] [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "decompress/DecodeContext.h"
#include "decompress/Inflate.h"

namespace {

std::string MakeText(std::size_t n, std::mt19937& rng) {
  static const char* const words[] = {"the",     "quick",  "brown",   "fox",     "jumps",   "over",   "lazy",
                                      "dog",     "archive", "entry",  "header",  "central", "window", "distance",
                                      "length",  "literal", "service", "install", "wizard",  "folder", "registry",
                                      "volume",  "password", "stream", "buffer",  "of",      "and",    "to"};
  std::string s;
  s.reserve(n + 200);
  while (s.size() < n) {
    const int count = 4 + static_cast<int>(rng() % 12);
    for (int i = 0; i < count; ++i) {
      s += words[rng() % (sizeof(words) / sizeof(words[0]))];
      s += ' ';
    }
    s += std::to_string(rng() % 100000);
    s += '\n';
  }
  s.resize(n);
  return s;
}

std::string MakeBinary(std::size_t n, std::mt19937& rng) {
  std::string s;
  s.reserve(n);
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<fs::path> libs;
  for (const auto& e : fs::directory_iterator("/usr/lib/x86_64-linux-gnu", ec))
    if (e.is_regular_file(ec) && e.path().string().find(".so") != std::string::npos) libs.push_back(e.path());
  std::sort(libs.begin(), libs.end());
  for (const auto& p : libs) {
    if (s.size() >= n) break;
    std::ifstream in(p, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    s += bytes.substr(0, std::min(bytes.size(), n - s.size()));
  }
  // Without system libraries: structured records instead.
  std::uint32_t base[16];
  for (auto& b : base) b = rng();
  while (s.size() < n) {
    const int k = static_cast<int>(rng() % 16);
    base[k] += rng() % 7 - 3;
    s.append(reinterpret_cast<const char*>(&base[k]), 4);
    s.push_back(static_cast<char>(k));
  }
  s.resize(n);
  return s;
}

struct Corpus {
  std::string raw;
  std::string deflated;
};

std::string Deflate(const std::string& raw, int level) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&z, raw.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
  z.avail_in = static_cast<uInt>(raw.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

const Corpus& Data(int kind) {
  static Corpus corpora[3];
  Corpus& c = corpora[kind];
  if (c.raw.empty()) {
    std::mt19937 rng(20261208);
    if (kind == 0) {
      c.raw = MakeText(28u << 20, rng) + MakeBinary(28u << 20, rng);
      std::string noise(8u << 20, '\0');
      for (auto& ch : noise) ch = static_cast<char>(rng());
      c.raw += noise;
    } else if (kind == 1) {
      c.raw = MakeText(32u << 20, rng);
    } else {
      c.raw = MakeBinary(32u << 20, rng);
    }
    c.deflated = Deflate(c.raw, 6);
  }
  return c;
}

// Compressed bytes from memory, output into a buffer in memory.
class BenchHost : public quv::DecodeInput, public quv::DecodeOutput {
 public:
  BenchHost(const std::string& in, std::string& out) : in_(in), out_(out) {}
  std::uint32_t crc = 0;
  std::int32_t ReadInput(void* buffer, std::int32_t count) override {
    const std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(count), in_.size() - inPos_);
    std::memcpy(buffer, in_.data() + inPos_, k);
    inPos_ += k;
    return static_cast<std::int32_t>(k);
  }
  // As the archive's stream does, where the bytes lie already.
  const std::uint8_t* LendInput(std::int32_t count) override {
    if (static_cast<std::size_t>(count) > in_.size() - inPos_) return nullptr;
    const auto* lent = reinterpret_cast<const std::uint8_t*>(in_.data()) + inPos_;
    inPos_ += static_cast<std::size_t>(count);
    return lent;
  }
  void ReturnInput(std::int32_t count) override { inPos_ -= static_cast<std::size_t>(count); }
  bool CanSpan() const override { return false; }
  bool OpenNextDisk() override { return false; }
  void Decrypt(std::uint8_t*, std::int32_t) override {}
  std::int64_t OutputPosition() override { return static_cast<std::int64_t>(outPos_); }
  std::int32_t WriteOutput(const void* buffer, std::int32_t count) override {
    if (!out_.empty()) std::memcpy(out_.data() + outPos_, buffer, static_cast<std::size_t>(count));
    outPos_ += static_cast<std::size_t>(count);
    return count;
  }
  std::uint32_t& Crc() override { return crc; }
  void BlockWritten(std::int32_t, std::int64_t, std::int64_t) override {}

 private:
  const std::string& in_;
  std::string& out_;
  std::size_t inPos_ = 0;
  std::size_t outPos_ = 0;
};

// Decodes the corpus once; out empty: the output is only checked (CRC-32).
std::uint32_t QuvInflate(const Corpus& c, std::string& out, benchmark::State& state) {
  BenchHost host(c.deflated, out);
  quv::TDecodeContext ctx(host, host);
  ctx.ResetForEntry(static_cast<std::int64_t>(c.deflated.size()), static_cast<std::int32_t>(c.raw.size()));
  if (quv::InflateEntry(ctx) != quv::DecodeResult::Decoded) state.SkipWithError("inflate failed");
  return ~host.crc;
}

void CheckQuvCrc(const Corpus& c, std::uint32_t crc, benchmark::State& state) {
  if (crc != crc32(0, reinterpret_cast<const Bytef*>(c.raw.data()), static_cast<uInt>(c.raw.size())))
    state.SkipWithError("crc differs");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(c.raw.size()));
  state.counters["ratio"] = static_cast<double>(c.deflated.size()) / static_cast<double>(c.raw.size());
}

void BM_QuvInflate(benchmark::State& state) {
  const Corpus& c = Data(static_cast<int>(state.range(0)));
  std::string out(c.raw.size(), '\0');
  std::uint32_t crc = 0;
  for (auto _ : state) {
    crc = QuvInflate(c, out, state);
    benchmark::DoNotOptimize(crc);
  }
  if (out != c.raw) state.SkipWithError("output differs");
  CheckQuvCrc(c, crc, state);
}

void BM_QuvInflateChecked(benchmark::State& state) {
  const Corpus& c = Data(static_cast<int>(state.range(0)));
  std::string none;
  std::uint32_t crc = 0;
  for (auto _ : state) {
    crc = QuvInflate(c, none, state);
    benchmark::DoNotOptimize(crc);
  }
  CheckQuvCrc(c, crc, state);
}

void BM_ZlibInflateCrc(benchmark::State& state) {
  const Corpus& c = Data(static_cast<int>(state.range(0)));
  std::string out(c.raw.size(), '\0');
  for (auto _ : state) {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(c.deflated.data()));
    z.avail_in = static_cast<uInt>(c.deflated.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) state.SkipWithError("zlib inflate failed");
    inflateEnd(&z);
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size()));
    benchmark::DoNotOptimize(crc);
    benchmark::ClobberMemory();
  }
  if (out != c.raw) state.SkipWithError("output differs");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(c.raw.size()));
}

void BM_LibdeflateInflateCrc(benchmark::State& state) {
  const Corpus& c = Data(static_cast<int>(state.range(0)));
  std::string out(c.raw.size(), '\0');
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  for (auto _ : state) {
    if (libdeflate_deflate_decompress(d, c.deflated.data(), c.deflated.size(), out.data(), out.size(), nullptr) !=
        LIBDEFLATE_SUCCESS)
      state.SkipWithError("libdeflate failed");
    std::uint32_t crc = libdeflate_crc32(0, out.data(), out.size());
    benchmark::DoNotOptimize(crc);
    benchmark::ClobberMemory();
  }
  libdeflate_free_decompressor(d);
  if (out != c.raw) state.SkipWithError("output differs");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(c.raw.size()));
}

void BM_QuvCrc32(benchmark::State& state) {
  const Corpus& c = Data(0);
  for (auto _ : state) {
    std::uint32_t crc = quv::UpdateCrc(0xFFFFFFFFu, reinterpret_cast<const std::uint8_t*>(c.raw.data()), c.raw.size());
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(c.raw.size()));
}

void BM_LibdeflateCrc32(benchmark::State& state) {
  const Corpus& c = Data(0);
  for (auto _ : state) {
    std::uint32_t crc = libdeflate_crc32(0, c.raw.data(), c.raw.size());
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(c.raw.size()));
}

void BM_ZlibCrc32(benchmark::State& state) {
  const Corpus& c = Data(0);
  for (auto _ : state) {
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(c.raw.data()), static_cast<uInt>(c.raw.size()));
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(c.raw.size()));
}

// Argument: 0 mixed (64 MB), 1 text (32 MB), 2 binary (32 MB). The decoders
// take turns per data kind, so that load from the rest of the machine falls
// on all of them alike.
void Decoders(benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->MinTime(1.0); }
BENCHMARK(BM_QuvInflate)->Arg(0)->Apply(Decoders);
BENCHMARK(BM_QuvInflateChecked)->Arg(0)->Apply(Decoders);
BENCHMARK(BM_LibdeflateInflateCrc)->Arg(0)->Apply(Decoders);
BENCHMARK(BM_ZlibInflateCrc)->Arg(0)->Apply(Decoders);
BENCHMARK(BM_QuvInflate)->Arg(1)->Apply(Decoders);
BENCHMARK(BM_QuvInflateChecked)->Arg(1)->Apply(Decoders);
BENCHMARK(BM_LibdeflateInflateCrc)->Arg(1)->Apply(Decoders);
BENCHMARK(BM_ZlibInflateCrc)->Arg(1)->Apply(Decoders);
BENCHMARK(BM_QuvInflate)->Arg(2)->Apply(Decoders);
BENCHMARK(BM_QuvInflateChecked)->Arg(2)->Apply(Decoders);
BENCHMARK(BM_LibdeflateInflateCrc)->Arg(2)->Apply(Decoders);
BENCHMARK(BM_ZlibInflateCrc)->Arg(2)->Apply(Decoders);
BENCHMARK(BM_QuvCrc32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibdeflateCrc32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCrc32)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
