// Decoding speed of the engine on the entries of the ZIP files given: each
// entry is decoded from memory several times into a sink that only counts,
// and the best time is reported. The CRC is checked every time.
//   legacy_bench [-r ROUNDS] ARCHIVE...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "LegacyZip.h"
#include "decompress/DecodeContext.h"
#include "zip/Exception.h"

namespace {

class SinkHost : public quv::DecodeInput, public quv::DecodeOutput {
 public:
  explicit SinkHost(const std::string& input) : input_(input) {}
  std::int32_t ReadInput(void* buffer, std::int32_t count) override {
    const std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(count), input_.size() - pos_);
    std::memcpy(buffer, input_.data() + pos_, k);
    pos_ += k;
    return static_cast<std::int32_t>(k);
  }
  bool CanSpan() const override { return false; }
  bool OpenNextDisk() override { return false; }
  void Decrypt(std::uint8_t*, std::int32_t) override {}
  std::int64_t OutputPosition() override { return written; }
  std::int32_t WriteOutput(const void*, std::int32_t count) override {
    written += count;
    return count;
  }
  std::uint32_t& Crc() override { return crc; }
  void BlockWritten(std::int32_t, std::int64_t, std::int64_t) override {}

  std::int64_t written = 0;
  std::uint32_t crc = 0;

 private:
  const std::string& input_;
  std::size_t pos_ = 0;
};

std::string Slurp(const char* path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "-r") == 0) {
    rounds = std::max(1, std::atoi(argv[2]));
    first = 3;
  }
  int failures = 0;
  for (int a = first; a < argc; ++a) {
    for (const auto& e : quv::test::ReadZipEntries(Slurp(argv[a]))) {
      double best = 1e30;
      bool ok = true;
      for (int r = 0; r < rounds; ++r) {
        SinkHost host(e.packed);
        quv::TDecodeContext ctx(host, host);
        ctx.ResetForEntry(static_cast<std::int32_t>(e.packed.size()), static_cast<std::int32_t>(e.uncompressedSize));
        const auto start = std::chrono::steady_clock::now();
        try {
          quv::DecodeEntry(ctx, e.method, e.flag);
        } catch (const quv::Exception& ex) {
          std::fprintf(stderr, "%s: %s\n", e.name.c_str(), ex.what());
          ok = false;
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, s);
        ok = ok && ~host.crc == e.crc && host.written == e.uncompressedSize;
      }
      failures += !ok;
      std::printf("%-24s method %u  %10u bytes  %8.3f s  %8.1f MB/s  %s\n", e.name.c_str(), e.method,
                  e.uncompressedSize, best, e.uncompressedSize / best / 1e6, ok ? "CRC ok" : "CRC FAILED");
    }
  }
  return failures == 0 ? 0 : 1;
}
