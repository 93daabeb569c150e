#include "token_contents.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <functional>

#include "card/certificate_path.h"
#include "card/der_element.h"
#include "card/key_record_view.h"

namespace orvel_p11 {
namespace {

DWORD LittleEndian32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
         static_cast<DWORD>(p[3]) << 24;
}

ReadOutcome Failure(const CCryptoCard& card) {
  return CardGone(card.LastResult()) ? ReadOutcome::CardGone : ReadOutcome::CardError;
}

// Reads the selected transparent file from offset 0 in chunks of at most 128
// bytes until done(data) says enough is there, the file ends, or limit bytes
// were read. False on a transport failure (a refusal ends the file).
bool ReadSelectedFile(CCryptoCard& card, std::size_t limit,
                      const std::function<bool(std::span<const BYTE>)>& done, Bytes* data) {
  data->clear();
  while (data->size() < limit) {
    const std::size_t offset = data->size();
    WORD ask = static_cast<WORD>(std::min<std::size_t>(CCryptoCard::kMaxChunk, limit - offset));
    data->resize(offset + ask);
    WORD got = 0;
    card.ReadBinary(static_cast<WORD>(offset), ask, data->data() + offset, &got);
    if (card.LastResult() != SCARD_S_SUCCESS) return false;
    if (card.Sw1() == 0x6C && card.Sw2() != 0 && card.Sw2() < ask) {
      // Fewer bytes remain than asked for: those, and the file ends there.
      ask = card.Sw2();
      got = 0;
      card.ReadBinary(static_cast<WORD>(offset), ask, data->data() + offset, &got);
      if (card.LastResult() != SCARD_S_SUCCESS) return false;
      data->resize(offset + got);
      return true;
    }
    data->resize(offset + got);
    if (!card.StepSucceeded() || got == 0) return true;
    if (done(*data)) return true;
  }
  return true;
}

bool DirectoryDone(std::span<const BYTE> data) {
  bool complete = false;
  DirectoryRecords(data, &complete);
  return complete;
}

// The directory file of the application with that identifier (already
// selected by the caller when selectWithin is false).
std::optional<Bytes> ReadDirectory(CCryptoCard& card, WORD fileId, bool selectApplication,
                                   ReadOutcome* failure) {
  if (selectApplication) {
    card.SelectApplication(fileId);
  } else {
    card.SelectFile(fileId);
  }
  Bytes data;
  if (card.LastResult() != SCARD_S_SUCCESS) {
    *failure = Failure(card);
    return std::nullopt;
  }
  // A directory the card does not have holds no records.
  if (!card.StepSucceeded()) return data;
  if (!ReadSelectedFile(card, kMaxDirectoryBytes, DirectoryDone, &data)) {
    *failure = Failure(card);
    return std::nullopt;
  }
  return data;
}

}  // namespace

bool CardGone(LONG result) {
  switch (result) {
    case SCARD_W_REMOVED_CARD:
    case SCARD_E_NO_SMARTCARD:
    case SCARD_W_RESET_CARD:
    case SCARD_E_READER_UNAVAILABLE:
    case SCARD_E_UNKNOWN_READER:
    case SCARD_E_INVALID_HANDLE:
    case SCARD_W_UNPOWERED_CARD:
      return true;
    default:
      return false;
  }
}

std::vector<std::span<const BYTE>> DirectoryRecords(std::span<const BYTE> data, bool* complete) {
  std::vector<std::span<const BYTE>> records;
  if (complete != nullptr) *complete = false;
  std::size_t pos = 0;
  while (pos < data.size()) {
    if (data[pos] != 0x30) {
      if (complete != nullptr) *complete = true;
      break;
    }
    DWORD content = static_cast<DWORD>(pos);
    const auto length =
        ParseDerHeader(content, data.subspan(pos, std::min<std::size_t>(6, data.size() - pos)));
    if (!length) {
      // A header cut short by the end of the data may be completed by more;
      // one that cannot be followed ends the directory.
      if (data.size() - pos >= 6 && complete != nullptr) *complete = true;
      break;
    }
    if (*length > data.size() - content) break;
    const std::size_t end = content + *length;
    records.push_back(data.subspan(pos, end - pos));
    pos = end;
  }
  return records;
}

std::optional<KeyRecordFields> DecodeKeyRecord(std::span<const BYTE> record) {
  const auto whole = ExpectDerElement(record.data(), record.data() + record.size(), 0x30);
  if (!whole) return std::nullopt;
  const auto view = ParseKeyRecord({whole->content, whole->Size()});
  if (!view || view->identifier.empty()) return std::nullopt;
  const BYTE* const identifier = view->identifier.data();
  const auto id = EnterDerElement(identifier, identifier + view->identifier.size());
  if (!id) return std::nullopt;
  KeyRecordFields fields;
  fields.id.assign(id->content, id->end);
  fields.usage = view->UsageWord();
  fields.keyReference = view->keyReference;
  return fields;
}

std::optional<CertificateRecordFields> DecodeCertificateRecord(std::span<const BYTE> record) {
  const auto whole = ExpectDerElement(record.data(), record.data() + record.size(), 0x30);
  if (!whole) return std::nullopt;
  const auto objectAttributes = ExpectDerElement(whole->content, whole->end, 0x30);
  if (!objectAttributes) return std::nullopt;
  const auto certificateAttributes = ExpectDerElement(objectAttributes->end, whole->end, 0x30);
  if (!certificateAttributes) return std::nullopt;
  const auto identifier =
      ExpectDerElement(certificateAttributes->content, certificateAttributes->end, 0x04);
  if (!identifier) return std::nullopt;
  const auto text = TypeAttributesPath(certificateAttributes->end, whole->end);
  if (text.size() > kMaxPathTextBytes) return std::nullopt;
  auto identifiers = ParseCertificatePath(text);
  if (!identifiers) return std::nullopt;
  CertificateRecordFields fields;
  fields.id.assign(identifier->content, identifier->end);
  fields.path = std::move(*identifiers);
  return fields;
}

std::optional<std::size_t> CertificateFileLength(std::span<const BYTE> head) {
  if (head.size() < kCertificateFileHeaderBytes) return std::nullopt;
  const DWORD uncompressed = LittleEndian32(&head[0]);
  const DWORD compressed = LittleEndian32(&head[4]);
  if (uncompressed == 0 || uncompressed > kMaxCertificateBytes || compressed == 0 ||
      compressed > compressBound(uncompressed)) {
    return std::nullopt;
  }
  return kCertificateFileHeaderBytes + compressed;
}

std::optional<Bytes> ExpandCertificateFile(std::span<const BYTE> file) {
  const auto length = CertificateFileLength(file);
  if (!length || *length > file.size()) return std::nullopt;
  const DWORD uncompressed = LittleEndian32(&file[0]);
  Bytes der(uncompressed);
  uLongf expanded = uncompressed;
  if (uncompress(der.data(), &expanded, file.data() + kCertificateFileHeaderBytes,
                 static_cast<uLong>(*length - kCertificateFileHeaderBytes)) != Z_OK ||
      expanded != uncompressed) {
    return std::nullopt;
  }
  return der;
}

TokenContents DecodeTokenContents(std::span<const BYTE> prkdf, std::span<const BYTE> pukdf,
                                  const std::vector<std::optional<Bytes>>& certificateFiles,
                                  const std::vector<CertificateRecordFields>& certificateRecords) {
  TokenContents contents;
  std::vector<KeyRecordFields> publicKeys;
  for (const auto record : DirectoryRecords(pukdf)) {
    if (auto fields = DecodeKeyRecord(record)) publicKeys.push_back(std::move(*fields));
  }
  for (const auto record : DirectoryRecords(prkdf)) {
    auto fields = DecodeKeyRecord(record);
    if (!fields) continue;
    CardKey key;
    key.id = std::move(fields->id);
    key.keyReference = fields->keyReference;
    // The public-key record of the same reference carries the roles the key
    // was written in, as the card provider reads them.
    const auto pub =
        std::find_if(publicKeys.begin(), publicKeys.end(),
                     [&](const KeyRecordFields& p) { return p.keyReference == key.keyReference; });
    if (pub != publicKeys.end()) key.roles = pub->usage & (kRoleExchange | kRoleSignature);
    contents.keys.push_back(std::move(key));
  }
  for (std::size_t i = 0; i < certificateRecords.size() && i < certificateFiles.size(); ++i) {
    if (!certificateFiles[i]) continue;
    auto der = ExpandCertificateFile(*certificateFiles[i]);
    if (!der) continue;
    contents.certificates.push_back({certificateRecords[i].id, std::move(*der)});
  }
  return contents;
}

PinState PinStateFromStatus(WORD sw) {
  PinState state;
  if (sw == 0x6983) {
    state.known = true;
    state.locked = true;
    state.triesLeft = 0;
  } else if ((sw & 0xFFF0) == 0x63C0) {
    state.known = true;
    state.triesLeft = sw & 0x0F;
    state.locked = state.triesLeft == 0;
  } else if (sw == 0x9000) {
    state.known = true;
  }
  return state;
}

ReadOutcome ReadTokenContents(CCryptoCard& card, TokenContents* contents, PinState* pin) {
  ReadOutcome failure = ReadOutcome::CardError;
  const DirectoryFileTable& table = card.DirectoryFiles();
  // The application is selected once; the directories are files within it.
  const auto prkdf = ReadDirectory(card, table[kPrivateKeyDirectory], true, &failure);
  if (!prkdf) return failure;
  const auto pukdf = ReadDirectory(card, table[kPublicKeyDirectory], false, &failure);
  if (!pukdf) return failure;
  const auto cdf = ReadDirectory(card, table[kCertificateDirectory], false, &failure);
  if (!cdf) return failure;

  std::vector<CertificateRecordFields> records;
  for (const auto record : DirectoryRecords(*cdf)) {
    if (auto fields = DecodeCertificateRecord(record)) records.push_back(std::move(*fields));
  }

  // Certificate files: from the master file down their path; a file in the
  // DF already selected needs one SELECT.
  std::vector<std::optional<Bytes>> files;
  std::vector<WORD> currentDf;
  bool haveDf = false;
  const auto selectDf = [&](std::span<const WORD> dfPath) {
    if (haveDf && std::equal(dfPath.begin(), dfPath.end(), currentDf.begin(), currentDf.end())) {
      return true;
    }
    haveDf = false;
    card.SelectByName(kMasterFileName);
    if (!card.StepSucceeded()) return false;
    for (WORD id : dfPath) {
      card.SelectFile(id);
      if (!card.StepSucceeded()) return false;
    }
    currentDf.assign(dfPath.begin(), dfPath.end());
    haveDf = true;
    return true;
  };
  for (const CertificateRecordFields& record : records) {
    files.emplace_back();
    const std::span<const WORD> path(record.path);
    if (!selectDf(path.first(path.size() - 1))) {
      if (card.LastResult() != SCARD_S_SUCCESS) return Failure(card);
      continue;
    }
    card.SelectFile(path.back());
    if (card.LastResult() != SCARD_S_SUCCESS) return Failure(card);
    if (!card.StepSucceeded()) continue;
    Bytes file;
    const auto done = [](std::span<const BYTE> data) {
      const auto length = CertificateFileLength(data);
      return !length || data.size() >= *length;
    };
    if (!ReadSelectedFile(card, kCertificateFileHeaderBytes + compressBound(kMaxCertificateBytes),
                          done, &file)) {
      return Failure(card);
    }
    files.back() = std::move(file);
  }

  // The PIN counter, asked in ICC.Crypto (where the certificates usually
  // are): VERIFY without data reports it and verifies nothing.
  const std::array<WORD, 1> cryptoDf = {0x3F11};
  if (haveDf && currentDf.size() == 1 && currentDf[0] == cryptoDf[0]) {
    card.Verify("");
  } else {
    card.VerifyPin("");
  }
  if (card.LastResult() != SCARD_S_SUCCESS && card.LastResult() != SCARD_E_INVALID_PARAMETER) {
    return Failure(card);
  }
  *pin = PinStateFromStatus(card.Sw());
  *contents = DecodeTokenContents(*prkdf, *pukdf, files, records);
  return ReadOutcome::Read;
}

}  // namespace orvel_p11
