#include "key_record_view.h"

#include "card/der_element.h"

namespace {

// The element at p if it has the tag and lies within limit.
std::optional<DerContent> Expect(const BYTE* p, const BYTE* limit, BYTE tag) {
  if (p == nullptr || p >= limit || *p != tag) return std::nullopt;
  return EnterDerElement(p, limit);
}

std::span<const BYTE> SpanOf(const DerContent& element) {
  return {element.content, element.Size()};
}

// The path text of type attributes: A1 { 30 { 04 text, ... } }.
std::span<const BYTE> PathOf(const BYTE* p, const BYTE* limit) {
  const auto type = Expect(p, limit, 0xA1);
  if (!type) return {};
  const auto path = Expect(type->content, type->end, 0x30);
  if (!path) return {};
  const auto text = Expect(path->content, path->end, 0x04);
  if (!text) return {};
  return SpanOf(*text);
}

}  // namespace

std::optional<KeyRecordView> ParseKeyRecord(std::span<const BYTE> content) {
  const BYTE* const end = content.data() + content.size();
  const auto objectAttributes = Expect(content.data(), end, 0x30);
  if (!objectAttributes) return std::nullopt;
  const auto keyAttributes = Expect(objectAttributes->end, end, 0x30);
  if (!keyAttributes) return std::nullopt;

  const BYTE* const limit = keyAttributes->end;
  const auto identifier = EnterDerElement(keyAttributes->content, limit);
  if (!identifier) return std::nullopt;
  const auto usage = Expect(identifier->end, limit, 0x03);
  if (!usage) return std::nullopt;
  const auto native = Expect(usage->end, limit, 0x01);
  if (!native) return std::nullopt;
  const auto accessFlags = Expect(native->end, limit, 0x03);
  if (!accessFlags) return std::nullopt;
  const auto reference = Expect(accessFlags->end, limit, 0x02);
  if (!reference || reference->Size() == 0) return std::nullopt;

  KeyRecordView view;
  view.usage = SpanOf(*usage);
  view.keyReference = *reference->content;

  // After the common key attributes: the subclass attributes, when present,
  // then the type attributes.
  const BYTE* p = keyAttributes->end;
  if (p < end && *p == 0xA0) {
    const auto subclass = EnterDerElement(p, end);
    p = subclass ? subclass->end : nullptr;
  }
  if (p != nullptr) view.path = PathOf(p, end);
  return view;
}
