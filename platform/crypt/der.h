// Minimal DER reading and writing for the few structures the certificate
// functions take apart or rebuild (algorithm identifiers, public key info,
// bit strings). Single-byte tags, definite lengths only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::crypt::der {

inline constexpr unsigned char kBitString = 0x03;
inline constexpr unsigned char kInteger = 0x02;
inline constexpr unsigned char kObjectId = 0x06;
inline constexpr unsigned char kSequence = 0x30;

struct Element {
  unsigned char tag = 0;
  const unsigned char* content = nullptr;
  std::size_t length = 0;
  const unsigned char* encoded = nullptr;  // tag, length and content
  std::size_t encodedLength = 0;
};

// Reads one element at pos (advancing it) within [pos, end).
bool Read(const unsigned char*& pos, const unsigned char* end, Element& out);
// Reads the element that makes up exactly the whole of [data, data + size).
bool ReadWhole(const unsigned char* data, std::size_t size, Element& out);

void Append(std::vector<unsigned char>& out, unsigned char tag, const unsigned char* content,
            std::size_t length);
inline void Append(std::vector<unsigned char>& out, unsigned char tag,
                   const std::vector<unsigned char>& content) {
  Append(out, tag, content.data(), content.size());
}

// Dotted text of an encoded OBJECT IDENTIFIER's content; empty when invalid.
std::string ObjectIdText(const unsigned char* content, std::size_t length);
// Content octets of the OBJECT IDENTIFIER for dotted text; empty when invalid.
std::vector<unsigned char> ObjectIdContent(const std::string& dotted);

}  // namespace platform::crypt::der
