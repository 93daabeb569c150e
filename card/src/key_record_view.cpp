#include "card/key_record_view.h"

#include "card/certificate_path.h"
#include "card/der_element.h"

namespace {

std::span<const BYTE> SpanOf(const DerContent& element) {
  return {element.content, element.Size()};
}

}  // namespace

WORD KeyRecordView::UsageWord() const {
  const BYTE high = usage.size() > 1 ? usage[1] : 0;
  const BYTE low = usage.size() > 2 ? usage[2] : 0;
  return static_cast<WORD>(high << 8 | low);
}

std::optional<KeyRecordView> ParseKeyRecord(std::span<const BYTE> content) {
  const BYTE* const end = content.data() + content.size();
  const auto objectAttributes = ExpectDerElement(content.data(), end, 0x30);
  if (!objectAttributes) return std::nullopt;
  const auto keyAttributes = ExpectDerElement(objectAttributes->end, end, 0x30);
  if (!keyAttributes) return std::nullopt;

  KeyRecordView view;
  const BYTE* p = keyAttributes->content;
  const BYTE* const limit = keyAttributes->end;
  // Identifier, usage, native and access flags: each taken when the next
  // element has its tag, and then whole or not at all.
  const BYTE optional[] = {0x04, 0x03, 0x01, 0x03};
  std::span<const BYTE>* const fields[] = {nullptr, &view.usage, nullptr, &view.accessFlags};
  int present = 0;
  for (std::size_t i = 0; i < std::size(optional); ++i) {
    const auto element = ExpectDerElement(p, limit, optional[i]);
    if (!element) {
      if (p < limit && *p == optional[i]) return std::nullopt;
      continue;
    }
    if (i == 0) view.identifier = {p, element->end};
    if (fields[i] != nullptr) *fields[i] = SpanOf(*element);
    ++present;
    p = element->end;
  }
  view.allKeyAttributes = present == static_cast<int>(std::size(optional));
  const auto reference = ExpectDerElement(p, limit, 0x02);
  if (!reference || reference->Size() == 0) return std::nullopt;
  view.keyReference = *reference->content;

  // After the common key attributes: the subclass attributes, when present,
  // then the type attributes.
  p = keyAttributes->end;
  if (p < end && *p == 0xA0) {
    const auto subclass = EnterDerElement(p, end);
    p = subclass ? subclass->end : nullptr;
  }
  if (p != nullptr) view.path = TypeAttributesPath(p, end);
  return view;
}
