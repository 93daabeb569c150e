#include "storeprov/card_cert_cache.h"

#include <algorithm>
#include <cstring>

#include "card/crypto_card.h"
#include "keyprep/card_provider.h"
#include "platform/code_pages.h"
#include "platform/handle_guards.h"

namespace {

constexpr WORD kSignatureRole = 0x2000;
constexpr WORD kExchangeRole = 0x4000;
constexpr BYTE kDerSequenceTag = 0x30;
// Size, in UTF-16 units, of each converted key-provider name.
constexpr int kWideNameSize = 512;

}  // namespace

DWORD KeySpecFromUsage(WORD keyUsage) {
  const bool signature = (keyUsage & kSignatureRole) != 0;
  const bool exchange = (keyUsage & kExchangeRole) != 0;
  if (signature && exchange) return AT_KEYEXCHANGE | AT_SIGNATURE;
  if (signature) return AT_SIGNATURE;
  if (exchange) return AT_KEYEXCHANGE;
  return 0;
}

CCardCertCache::CCardCertCache(const ChipInfo& cardIdentifier) : m_cardIdentifier(cardIdentifier) {}

CCardCertCache::~CCardCertCache() { Clear(); }

bool CCardCertCache::SameCard(const CCardCertCache* other) const {
  return other != nullptr && other->m_cardIdentifier == m_cardIdentifier;
}

void CCardCertCache::Clear() {
  // Unlinked one by one: a long list never recurses through its destructors.
  while (m_entries) m_entries = std::move(m_entries->next);
}

void CCardCertCache::Append(std::unique_ptr<CardCertEntry> entry) {
  std::unique_ptr<CardCertEntry>* tail = &m_entries;
  while (*tail) tail = &(*tail)->next;
  *tail = std::move(entry);
}

void CCardCertCache::ReadFromCard(CCryptoCard& card) {
  if (!Empty()) return;
  auto buffer = std::make_unique<BYTE[]>(kCertificateBufferSize);
  DWORD cursor = 0;
  for (;;) {
    DWORD length = kCertificateBufferSize;
    char containerName[kContainerNameSize] = {};
    WORD keyUsage = 0;
    // The reader writes the buffer only when it read a certificate, and the
    // status word after it tells how naming the key went, not whether the
    // certificate file was read: a certificate is recognised by the buffer
    // having been written (DER starts with a sequence tag).
    buffer[0] = 0;
    if (!card.ReadCertificateEntry(&cursor, buffer.get(), &length, containerName, &keyUsage)) {
      break;
    }
    // The card went away while its key was being looked up: the entry may
    // lack its container name, so it is not kept.
    if (card.LastResult() != SCARD_S_SUCCESS) break;
    if (buffer[0] != kDerSequenceTag || length == 0 || length > kCertificateBufferSize) continue;
    auto entry = std::make_unique<CardCertEntry>();
    entry->certificate = std::make_unique<BYTE[]>(length);
    std::memcpy(entry->certificate.get(), buffer.get(), length);
    entry->certificateLength = length;
    containerName[kContainerNameSize - 1] = '\0';
    std::memcpy(entry->containerName, containerName, kContainerNameSize);
    entry->keyUsage = keyUsage;
    Append(std::move(entry));
  }
  m_complete = card.LastResult() == SCARD_S_SUCCESS;
}

void CCardCertCache::AddToStore(HCERTSTORE store) const {
  if (store == nullptr || Empty()) return;
  for (const CardCertEntry* entry = m_entries.get(); entry != nullptr; entry = entry->next.get()) {
    const CCertificateContext certificate(CertCreateCertificateContext(
        X509_ASN_ENCODING, entry->certificate.get(), entry->certificateLength));
    if (!certificate) continue;
    PCCERT_CONTEXT context = certificate.Get();
    if (entry->containerName[0] != '\0') {
      WCHAR container[kWideNameSize] = {};
      WCHAR provider[kWideNameSize] = {};
      MultiByteToWideChar(CP_ACP, 0, entry->containerName, -1, container, kWideNameSize);
      MultiByteToWideChar(CP_ACP, 0, kCardProviderName, -1, provider, kWideNameSize);
      CRYPT_KEY_PROV_INFO info{};
      info.pwszContainerName = container;
      info.pwszProvName = provider;
      info.dwProvType = PROV_RSA_FULL;
      info.dwFlags = 0;
      info.cProvParam = 0;
      info.rgProvParam = nullptr;
      info.dwKeySpec = KeySpecFromUsage(entry->keyUsage);
      // Without the information the certificate is still worth showing.
      CertSetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
    }
    CertAddCertificateContextToStore(store, context, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  }
}
