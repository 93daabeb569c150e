#include "bench_setup.h"

#include <memory>

#include "common/module_instance.h"
#include "orvel_test/registration.h"
#include "platform/module_handle.h"
#include "platform_test/scoped_user_dir.h"
#include "test_pki.h"
#include "wizard/import_driver.h"

namespace wizard_bench {

bool PrepareUserState() {
  static std::unique_ptr<platform_test::ScopedUserDir> userDir;
  userDir.reset();
  userDir = std::make_unique<platform_test::ScopedUserDir>();
  ModuleInstance = platform::ProgramModule();
  return orvel_test::RegisterCardProvider() && orvel_test::RegisterCardType();
}

bool ImportSample(CBenchImportUi& ui) {
  auto& pfx = SamplePfx();
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), pfx.data()};
  return ImportStoreToCard(&blob, reinterpret_cast<LPCWSTR>(kWidePassword), ui) ==
             ImportOutcome::Completed &&
         ui.lastMessage == 18;
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
