#include "card_harness.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cardsim/fake_pcsc.h"
#include "common/module_instance.h"
#include "platform/module_handle.h"
#include "platform_test/scoped_user_dir.h"

namespace orvel_fuzz {
namespace {

constexpr std::uint16_t kOdf = cardsim::kOdf;
constexpr std::uint16_t kPrivateKeyDirectory = 0x6001;
constexpr std::uint16_t kPublicKeyDirectory = 0x6002;
constexpr std::uint16_t kCertificateDirectory = 0x6004;
constexpr std::uint16_t kAuthenticationDirectory = 0x6000;
constexpr std::uint16_t kDataDirectory = 0x6005;

std::vector<std::uint16_t> DfPath(FilePlace place) {
  switch (place) {
    case FilePlace::Application:
      return {cardsim::kPkcs15Df};
    case FilePlace::CryptoDf:
      return {cardsim::kCryptoDf};
    default:
      return {};
  }
}

void PutWord(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutBigEndian(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

// The size the card is made with for one of its own PKCS#15 files, when the
// input gives that file.
void SizeOwnFile(cardsim::CardSpec& spec, const CardFile& file) {
  if (file.place != FilePlace::Application) return;
  const std::size_t size = file.content.size();
  switch (file.id) {
    case kOdf:
      spec.odfSize = size;
      break;
    case kPrivateKeyDirectory:
      spec.prkdfSize = size;
      break;
    case kPublicKeyDirectory:
      spec.pukdfSize = size;
      break;
    case kCertificateDirectory:
      spec.cdfSize = size;
      break;
    case kAuthenticationDirectory:
      spec.aodfSize = size;
      break;
    case kDataDirectory:
      spec.dodfSize = size;
      break;
    default:
      break;
  }
}

void ApplyFault(const TransportFault& fault) {
  switch (fault.kind) {
    case FaultKind::NotTransacted:
      fakepcsc::FailTransmitAt(fault.command, SCARD_E_NOT_TRANSACTED);
      break;
    case FaultKind::Removed:
      fakepcsc::RemoveCardAt(fault.command);
      break;
    case FaultKind::Reset:
      fakepcsc::ResetCardAt(fault.command);
      break;
    case FaultKind::NoCard:
      fakepcsc::FailTransmitAt(fault.command, SCARD_E_NO_SMARTCARD);
      break;
    case FaultKind::Status:
      fakepcsc::AnswerStatusAt(fault.command, fault.statusWord);
      break;
    case FaultKind::Answer:
      fakepcsc::ReplaceAnswerAt(fault.command, fault.answer);
      break;
    default:
      break;
  }
}

}  // namespace

CardInput ReadCardInput(InputReader& in) {
  CardInput input;
  const std::size_t faults = in.Byte() % (kMaxFaults + 1);
  for (std::size_t i = 0; i < faults && !in.AtEnd(); ++i) {
    TransportFault fault;
    fault.command = static_cast<std::uint16_t>(in.Word() % kFaultWindow + 1);
    fault.kind = static_cast<FaultKind>(in.Byte() % static_cast<std::uint8_t>(FaultKind::Count));
    if (fault.kind == FaultKind::Status) {
      const std::uint16_t high = in.Byte();
      fault.statusWord = static_cast<std::uint16_t>((high << 8) | in.Byte());
    } else if (fault.kind == FaultKind::Answer) {
      const auto answer = in.Take(in.Byte());
      fault.answer.assign(answer.begin(), answer.end());
    }
    input.faults.push_back(std::move(fault));
  }
  while (!in.AtEnd() && input.files.size() < kMaxFiles) {
    CardFile file;
    file.place = static_cast<FilePlace>(in.Byte() % static_cast<std::uint8_t>(FilePlace::Count));
    const std::uint16_t high = in.Byte();
    file.id = static_cast<std::uint16_t>((high << 8) | in.Byte());
    const auto content = in.Take(std::min<std::size_t>(in.Word(), kMaxFileBytes));
    file.content.assign(content.begin(), content.end());
    input.files.push_back(std::move(file));
  }
  return input;
}

Bytes EncodeCardInput(const CardInput& input) {
  Bytes out;
  out.push_back(static_cast<std::uint8_t>(std::min(input.faults.size(), kMaxFaults)));
  for (std::size_t i = 0; i < input.faults.size() && i < kMaxFaults; ++i) {
    const TransportFault& fault = input.faults[i];
    PutWord(out, static_cast<std::uint16_t>(fault.command - 1));
    out.push_back(static_cast<std::uint8_t>(fault.kind));
    if (fault.kind == FaultKind::Status) PutBigEndian(out, fault.statusWord);
    if (fault.kind == FaultKind::Answer) {
      const std::size_t n = std::min<std::size_t>(fault.answer.size(), 255);
      out.push_back(static_cast<std::uint8_t>(n));
      out.insert(out.end(), fault.answer.begin(), fault.answer.begin() + static_cast<long>(n));
    }
  }
  for (const CardFile& file : input.files) {
    out.push_back(static_cast<std::uint8_t>(file.place));
    PutBigEndian(out, file.id);
    const std::size_t n = std::min(file.content.size(), kMaxFileBytes);
    PutWord(out, static_cast<std::uint16_t>(n));
    out.insert(out.end(), file.content.begin(), file.content.begin() + static_cast<long>(n));
  }
  return out;
}

std::vector<CardFile> FilesOfCard(const cardsim::VirtualCard& card) {
  std::vector<CardFile> files;
  for (const FilePlace place :
       {FilePlace::Application, FilePlace::CryptoDf, FilePlace::MasterFile}) {
    const std::vector<std::uint16_t> df = DfPath(place);
    for (const std::uint16_t id : card.ListFiles(df)) {
      if (id == cardsim::kPrivateKeyFile || id == cardsim::kPublicKeyFile) continue;
      std::vector<std::uint16_t> path = df;
      path.push_back(id);
      if (auto content = card.ReadFile(path)) files.push_back({place, id, std::move(*content)});
    }
  }
  return files;
}

FuzzCard::FuzzCard(const CardInput& input) {
  fakepcsc::Reset();
  // Nothing reads the trace here, and keeping it costs copies of every
  // command and answer.
  fakepcsc::SetTracing(false);
  cardsim::CardSpec spec;
  spec.serial = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
  for (const CardFile& file : input.files) SizeOwnFile(spec, file);
  m_card = cardsim::VirtualCard::MakeFresh(spec);
  for (const CardFile& file : input.files) {
    std::vector<std::uint16_t> path = DfPath(file.place);
    const std::vector<std::uint16_t> df = path;
    path.push_back(file.id);
    if (!m_card->ReadFile(path)) m_card->CreateFile(df, file.id, file.content.size());
    m_card->WriteFile(path, file.content);
  }
  fakepcsc::AddReader(kReader);
  fakepcsc::InsertCard(kReader, m_card);
  if (m_context.Establish(SCARD_SCOPE_USER) != SCARD_S_SUCCESS) return;
  DWORD protocol = 0;
  if (SCardConnect(m_context.Get(), kReader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &m_handle,
                   &protocol) != SCARD_S_SUCCESS) {
    m_handle = 0;
  }
  fakepcsc::ClearFaults();
  fakepcsc::ClearTrace();
  for (const TransportFault& fault : input.faults) ApplyFault(fault);
}

FuzzCard::~FuzzCard() {
  if (m_handle != 0) SCardDisconnect(m_handle, SCARD_LEAVE_CARD);
}

FuzzCard::FakeReset::~FakeReset() { fakepcsc::Reset(); }

namespace {
// Made on first use, removed when the process ends.
const platform_test::ScopedUserDir& TheUserDir() {
  static const platform_test::ScopedUserDir dir;
  return dir;
}
}  // namespace

const std::filesystem::path& UserDir() { return TheUserDir().Path(); }

void PrepareProcess() {
  static const bool prepared = [] {
    TheUserDir();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ModuleInstance = platform::ProgramModule();
    return true;
  }();
  (void)prepared;
}

}  // namespace orvel_fuzz
