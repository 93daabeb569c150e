#include "card_key_bench.h"

#include "installation_support.h"
#include "keyprep/card_provider.h"
#include "orvel_test/registration.h"
#include "platform_test/scoped_user_dir.h"
#include "test_pki.h"

namespace orvelcsp_bench {
namespace {

constexpr std::uint8_t kReference = 0x20;
constexpr std::uint16_t kRoleWord = 0x6400;

std::string KeyContainer() {
  return orvelcsp_test::ContainerName(orvelcsp_test::kSerial, kRoleWord, kReference);
}

}  // namespace

std::shared_ptr<cardsim::VirtualCard> KeyCard() {
  auto card = orvelcsp_test::MakeCard(orvelcsp_test::kSerial);
  orvelcsp_test::WriteKeyRecords(*card, {{.reference = kReference, .roleWord = kRoleWord}});
  for (auto role : {cardsim::KeyRole::Signature, cardsim::KeyRole::Exchange}) {
    card->PutKey(kReference, role, card_test::CardKeyOf(testpki::Key(1024)));
  }
  return card;
}

const Bytes& KeyCertificate() {
  static const Bytes der = [] {
    testpki::CertSpec spec(testpki::Key(1024));
    spec.keyUsage = 0x80;
    spec.serial = 40;
    return testpki::Der(testpki::MakeCert(spec).get());
  }();
  return der;
}

bool AttachCertificate() {
  const Bytes& der = KeyCertificate();
  return AttachCertificateToKey(kCardProviderName, KeyContainer().c_str(), der.data(),
                                static_cast<DWORD>(der.size()), orvelcsp_test::kPin);
}

CSigningContext::CSigningContext() {
  if (!CryptAcquireContextA(m_provider.Receive(), KeyContainer().c_str(), "OrvelCSP", PROV_RSA_FULL,
                            0)) {
    m_provider.Release();
    return;
  }
  if (!CryptSetProvParam(m_provider.Get(), PP_SIGNATURE_PIN,
                         reinterpret_cast<const BYTE*>(orvelcsp_test::kPin), 0)) {
    m_provider.Release();
  }
}

bool CSigningContext::Sign() {
  CHashHandle hash;
  if (!CryptCreateHash(m_provider.Get(), CALG_SHA_256, 0, 0, hash.Receive())) return false;
  static constexpr BYTE kText[] = "contrato de prueba";
  BYTE signature[128];
  DWORD size = sizeof signature;
  return CryptHashData(hash.Get(), kText, sizeof kText - 1, 0) &&
         CryptSignHashA(hash.Get(), AT_SIGNATURE, nullptr, 0, signature, &size) &&
         size == sizeof signature;
}

CLineCount::CLineCount(std::shared_ptr<cardsim::VirtualCard> card) : m_card(std::move(card)) {
  m_card->SetAnswerFilter([this](std::span<const std::uint8_t> command, cardsim::Bytes& answer) {
    std::lock_guard lock(m_lock);
    ++m_commands;
    m_bytes += command.size() + answer.size();
  });
}

CLineCount::~CLineCount() { m_card->SetAnswerFilter({}); }

void CLineCount::Restart() {
  std::lock_guard lock(m_lock);
  m_commands = 0;
  m_bytes = 0;
}

std::size_t CLineCount::Commands() const {
  std::lock_guard lock(m_lock);
  return m_commands;
}

std::size_t CLineCount::Bytes() const {
  std::lock_guard lock(m_lock);
  return m_bytes;
}

void CLineCount::Report(benchmark::State& state) const {
  const double commands = static_cast<double>(Commands());
  const double bytes = static_cast<double>(Bytes());
  state.counters["commands"] = commands;
  state.counters["line_bytes"] = bytes;
  state.counters["t0_9600_ms"] = bytes * 1.25 + commands * 3.0;
}

void SignRounds(benchmark::State& state, CLineCount& count) {
  CSigningContext context;
  if (!context.Ready()) return state.SkipWithError("no context with the PIN");
  for (auto _ : state) {
    count.Restart();
    if (!context.Sign()) return state.SkipWithError("not signed");
  }
  count.Report(state);
}

int RunBenchmarks(int argc, char** argv) {
  platform_test::ScopedUserDir userDir;
  if (!orvel_test::RegisterCardProvider()) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace orvelcsp_bench
