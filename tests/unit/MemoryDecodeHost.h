// A decoder input and output over memory for the decoder tests: the compressed data may be
// split over several "disks", an optional decryption hook sees every block,
// a plain entry's bytes may be lent where they lie (each disk is its own
// allocation of exactly its size, so the sanitizers see a read past it),
// the output collects in a string (optionally refusing bytes past a limit),
// and every progress call is recorded with the percentage it stands for.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "decompress/DecodeContext.h"

namespace quv::test {

// Percentage(total, part): part * 100 / total rounded to nearest, halves to
// even, capped at 100; 0 when total is 0 or less.
inline int PercentOf(std::int64_t total, std::int64_t part) {
  if (total <= 0) return 0;
  std::int64_t q = part * 100 / total;
  const std::int64_t r2 = (part * 100 % total) * 2;
  if (r2 > total || (r2 == total && (q & 1) != 0)) ++q;
  return q > 100 ? 100 : static_cast<int>(q);
}

class MemoryDecodeHost : public DecodeInput, public DecodeOutput {
 public:
  struct Progress {
    std::int32_t n;
    std::int64_t entryBytesOut;
    std::int64_t unpackedSize;
    int percent;
  };

  // One disk holding all of input; CompressedSize = its length.
  explicit MemoryDecodeHost(std::string input)
      : MemoryDecodeHost(std::vector<std::string>{std::move(input)}) {}
  // Input spread over several disks; spanning is allowed when there are more than one.
  explicit MemoryDecodeHost(std::vector<std::string> disks) : disks_(std::move(disks)) {
    std::int64_t total = 0;
    for (const auto& d : disks_) {
      total += static_cast<std::int64_t>(d.size());
      lendable_.emplace_back(new std::uint8_t[std::max<std::size_t>(d.size(), 1)]);
      std::memcpy(lendable_.back().get(), d.data(), d.size());
    }
    compressedSize = static_cast<std::int32_t>(total);
    spanned = disks_.size() > 1;
  }

  // What the component would hold.
  std::int64_t compressedSize = 0;
  bool spanned = false;
  bool processMessages = false;
  std::function<void()> onProcessMessages;
  bool encrypted = false;
  bool lend = false;  // lends the bytes of a plain entry
  std::function<void(std::uint8_t*, std::int32_t)> decrypt;
  std::int64_t writeLimit = -1;  // bytes the output accepts in all; -1: no limit
  std::uint32_t crc = 0;

  // What happened.
  std::string output;
  std::vector<Progress> progress;
  std::vector<std::int32_t> readSizes;  // requested count of each ReadInput
  int disksOpened = 0;
  int decryptCalls = 0;
  int lends = 0;
  int returns = 0;
  int breaths = 0;

  void Breathe() override {
    ++breaths;
    if (processMessages && onProcessMessages) onProcessMessages();
  }

  std::int32_t ReadInput(void* buffer, std::int32_t count) override {
    readSizes.push_back(count);
    if (disk_ >= disks_.size() || count <= 0) return 0;
    const std::string& d = disks_[disk_];
    const std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(count), d.size() - pos_);
    if (k > 0) std::memcpy(buffer, d.data() + pos_, k);
    pos_ += k;
    return static_cast<std::int32_t>(k);
  }

  const std::uint8_t* LendInput(std::int32_t count) override {
    if (!lend || encrypted || disk_ >= disks_.size() || count > static_cast<std::int64_t>(disks_[disk_].size() - pos_))
      return nullptr;
    ++lends;
    const std::uint8_t* lent = lendable_[disk_].get() + pos_;
    pos_ += static_cast<std::size_t>(count);
    return lent;
  }

  void ReturnInput(std::int32_t count) override {
    ++returns;
    pos_ -= static_cast<std::size_t>(count);
  }

  bool CanSpan() const override { return spanned; }

  bool OpenNextDisk() override {
    if (disk_ + 1 >= disks_.size()) return false;
    ++disk_;
    pos_ = 0;
    ++disksOpened;
    return true;
  }

  void Decrypt(std::uint8_t* buffer, std::int32_t length) override {
    if (!encrypted) return;
    ++decryptCalls;
    if (decrypt) decrypt(buffer, length);
  }

  std::int64_t OutputPosition() override { return static_cast<std::int64_t>(output.size()); }

  std::int32_t WriteOutput(const void* buffer, std::int32_t count) override {
    std::int32_t k = count;
    if (writeLimit >= 0) {
      const std::int64_t room = writeLimit - static_cast<std::int64_t>(output.size());
      if (room < k) k = static_cast<std::int32_t>(room < 0 ? 0 : room);
    }
    output.append(static_cast<const char*>(buffer), static_cast<std::size_t>(k));
    return k;
  }

  std::uint32_t& Crc() override { return crc; }

  void BlockWritten(std::int32_t n, std::int64_t entryBytesOut, std::int64_t unpackedSize) override {
    progress.push_back({n, entryBytesOut, unpackedSize, PercentOf(unpackedSize, entryBytesOut)});
  }

  // The CRC as the extraction driver compares it.
  std::uint32_t FinalCrc() const { return ~crc; }

 private:
  std::vector<std::string> disks_;
  std::vector<std::unique_ptr<std::uint8_t[]>> lendable_;
  std::size_t disk_ = 0;
  std::size_t pos_ = 0;
};

// CRC-32 of a whole string, for expectations.
inline std::uint32_t Crc32Of(const std::string& s) {
  return ~UpdateCrc(0xFFFFFFFFu, reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

// Decodes one entry of the given method from host's input with a fresh
// context; failures that end the run pass through.
inline DecodeResult DecodeWith(MemoryDecodeHost& host, std::uint16_t method, std::int32_t unpackedSize,
                               std::uint16_t bitFlag = 0) {
  TDecodeContext ctx(host, host);
  ctx.ResetForEntry(host.compressedSize, unpackedSize);
  return DecodeEntry(ctx, method, bitFlag);
}

}  // namespace quv::test
