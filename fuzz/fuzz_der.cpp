// The in-memory parsers of card data, without a card: DER headers and the
// element walk, key records as FindPrivateKeyById hands them on, and the
// path texts of certificate records.
//
// Input: a selector byte, then the bytes to parse.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "card/certificate_path.h"
#include "card/der_element.h"
#include "card/key_record_view.h"
#include "fuzz_input.h"

namespace {

constexpr int kMaxDepth = 16;

// Every element of [element, end), and the elements inside those that hold
// others.
void Walk(const BYTE* element, const BYTE* end, int depth) {
  while (element != nullptr && element < end) {
    const auto content = EnterDerElement(element, end);
    const BYTE* next = SkipDerElement(element, end);
    // Entering and skipping agree on where the element ends, and neither
    // leaves the bytes it was given.
    if (content.has_value() != (next != nullptr)) __builtin_trap();
    if (!content) return;
    if (content->end != next || next > end || content->content < element) __builtin_trap();
    if (depth < kMaxDepth && (*element & 0x20) != 0)
      Walk(content->content, content->end, depth + 1);
    element = next;
  }
}

void Headers(std::span<const BYTE> bytes) {
  // The first four bytes at every offset, as a directory walk fetches them.
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::size_t n = bytes.size() - i < 4 ? bytes.size() - i : 4;
    DWORD offset = i;
    const auto length = ParseDerHeader(offset, bytes.subspan(i, n));
    if (!length && offset != i) __builtin_trap();
    if (length && (offset < i + 2 || offset > i + n)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orvel_fuzz::InputReader in(data, size);
  const std::uint8_t selector = in.Byte();
  const auto rest = in.Rest();
  // An exact-size copy: a read past the bytes given is an overflow.
  const std::vector<BYTE> bytes(rest.begin(), rest.end());
  const BYTE* begin = bytes.data();
  const BYTE* end = begin + bytes.size();
  switch (selector % 4) {
    case 0:
      Headers(bytes);
      break;
    case 1:
      Walk(begin, end, 0);
      break;
    case 2:
      if (const auto record = ParseKeyRecord(bytes)) {
        for (const auto part :
             {record->identifier, record->usage, record->accessFlags, record->path}) {
          if (!part.empty() && (part.data() < begin || part.data() + part.size() > end)) {
            __builtin_trap();
          }
        }
      }
      break;
    default:
      if (const auto path = ParseCertificatePath(bytes)) {
        if (path->empty() || path->size() > kMaxPathIdentifiers) __builtin_trap();
      }
      break;
  }
  return 0;
}
