// Certificate records, their path texts, certificate file headers and zlib
// streams: the enumeration of ReadCertificateEntry over the input's card,
// into buffers of exactly the sizes the input chooses.
//
// Input: certificate capacity (word, up to 4096; 0xFFFF: no buffer), name
// buffer size (byte, 1 to 256), then the card (card_harness.h).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "card/crypto_card.h"
#include "card_harness.h"

namespace {
constexpr int kMaxCalls = 32;
constexpr std::uint16_t kNoBuffer = 0xFFFF;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvel_fuzz;
  PrepareProcess();
  InputReader in(data, size);
  const std::uint16_t capacityField = in.Word();
  const std::size_t nameSize = std::size_t{in.Byte()} + 1;
  const bool withBuffer = capacityField != kNoBuffer;
  const DWORD capacity = withBuffer ? capacityField % 4097 : 0;
  auto certificate = std::make_unique<BYTE[]>(capacity);
  auto name = std::make_unique<char[]>(nameSize);
  WithInputCard(in, [&](CCryptoCard& card) {
    DWORD cursor = 0;
    for (int call = 0; call < kMaxCalls; ++call) {
      DWORD length = capacity;
      WORD usage = 0;
      const DWORD before = cursor;
      const int more = card.ReadCertificateEntry(&cursor, withBuffer ? certificate.get() : nullptr,
                                                 &length, {name.get(), nameSize}, &usage);
      if (more == 0) break;
      // A processed record moves the cursor on, and what was written fits.
      if (cursor <= before || length > capacity) __builtin_trap();
    }
  });
  return 0;
}
