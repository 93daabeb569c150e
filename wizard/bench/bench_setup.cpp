#include "bench_setup.h"

#include <cstdlib>
#include <filesystem>

#include "cardsim/virtual_card.h"
#include "common/module_instance.h"
#include "platform/card_database.h"
#include "platform/module_handle.h"
#include "platform/provider_registry.h"
#include "test_pki.h"

namespace wizard_bench {

bool PrepareUserState() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvel-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return false;
  ::setenv("ORVEL_USER_DIR", pattern.c_str(), 1);
  ModuleInstance = platform::ProgramModule();
  const auto atr = cardsim::VirtualCard::Atr();
  return platform::RegisterProvider("OrvelCSP", PROV_RSA_FULL, "liborvelcsp.so") &&
         platform::RegisterCardType({"DRAV-NOR", atr, std::vector<std::uint8_t>(atr.size(), 0xFF)});
}

std::vector<std::uint8_t>& SamplePfx() {
  static std::vector<std::uint8_t> pfx = [] {
    testpki::CertSpec certSpec(testpki::Key(1024, 0));
    certSpec.keyUsage = 0xA0;
    auto certificate = testpki::MakeCert(certSpec);
    testpki::PfxSpec pfxSpec(testpki::Key(1024, 0), certificate.get());
    pfxSpec.password = kPassword;
    return testpki::MakePfx(pfxSpec);
  }();
  return pfx;
}

}  // namespace wizard_bench
