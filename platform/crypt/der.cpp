#include "der.h"

#include <charconv>

namespace platform::crypt::der {

bool Read(const unsigned char*& pos, const unsigned char* end, Element& out) {
  const unsigned char* p = pos;
  if (end - p < 2) return false;
  unsigned char tag = *p++;
  if ((tag & 0x1F) == 0x1F) return false;  // multi-byte tags are not used here
  std::size_t length = *p++;
  if (length & 0x80) {
    std::size_t count = length & 0x7F;
    if (count == 0 || count > 4 || static_cast<std::size_t>(end - p) < count) return false;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = (length << 8) | *p++;
  }
  if (static_cast<std::size_t>(end - p) < length) return false;
  out.tag = tag;
  out.content = p;
  out.length = length;
  out.encoded = pos;
  out.encodedLength = static_cast<std::size_t>(p + length - pos);
  pos = p + length;
  return true;
}

bool ReadWhole(const unsigned char* data, std::size_t size, Element& out) {
  if (!data) return false;
  const unsigned char* pos = data;
  return Read(pos, data + size, out) && pos == data + size;
}

void Append(std::vector<unsigned char>& out, unsigned char tag, const unsigned char* content,
            std::size_t length) {
  out.push_back(tag);
  if (length < 0x80) {
    out.push_back(static_cast<unsigned char>(length));
  } else {
    unsigned char bytes[sizeof(std::size_t)];
    int count = 0;
    for (std::size_t n = length; n; n >>= 8) bytes[count++] = static_cast<unsigned char>(n);
    out.push_back(static_cast<unsigned char>(0x80 | count));
    while (count) out.push_back(bytes[--count]);
  }
  if (length) out.insert(out.end(), content, content + length);
}

std::string ObjectIdText(const unsigned char* content, std::size_t length) {
  std::string text;
  std::uint64_t value = 0;
  bool first = true;
  for (std::size_t i = 0; i < length; ++i) {
    if (value > (UINT64_MAX >> 7)) return {};
    if (value == 0 && content[i] == 0x80) return {};  // non-minimal encoding
    value = (value << 7) | (content[i] & 0x7F);
    if (content[i] & 0x80) continue;
    if (first) {
      std::uint64_t arc1 = value < 40 ? 0 : value < 80 ? 1 : 2;
      text = std::to_string(arc1) + "." + std::to_string(value - arc1 * 40);
      first = false;
    } else {
      text += "." + std::to_string(value);
    }
    value = 0;
  }
  if (length == 0 || (content[length - 1] & 0x80)) return {};
  return text;
}

std::vector<unsigned char> ObjectIdContent(const std::string& dotted) {
  std::vector<std::uint64_t> arcs;
  const char* p = dotted.data();
  const char* end = p + dotted.size();
  while (p < end) {
    std::uint64_t arc = 0;
    auto [next, ec] = std::from_chars(p, end, arc);
    if (ec != std::errc() || next == p) return {};
    arcs.push_back(arc);
    p = next;
    if (p < end) {
      if (*p != '.' || p + 1 == end) return {};
      ++p;
    }
  }
  if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] >= 40) || arcs[1] > UINT64_MAX - 80)
    return {};
  std::vector<unsigned char> out;
  auto put = [&out](std::uint64_t v) {
    unsigned char bytes[10];
    int count = 0;
    do {
      bytes[count++] = static_cast<unsigned char>(v & 0x7F);
      v >>= 7;
    } while (v);
    while (count > 1) out.push_back(bytes[--count] | 0x80);
    out.push_back(bytes[0]);
  };
  put(arcs[0] * 40 + arcs[1]);
  for (std::size_t i = 2; i < arcs.size(); ++i) put(arcs[i]);
  return out;
}

}  // namespace platform::crypt::der
