// The wizard's road: the import driver opens the PFX and carries its
// certificate onto the card, with the page's operations answered as a person
// would (the card's PIN typed at the prompt).
#include <gtest/gtest.h>

#include "common/module_instance.h"
#include "platform/message_box.h"
#include "platform/module_handle.h"
#include "support/fault_bench.h"
#include "test_pki.h"
#include "wizard/import_driver.h"
#include "wizard_test_support.h"

namespace reliability {
namespace {

class CWizardPath : public CImportPath {
 public:
  ImportRun Import(const Bytes& pfx) override {
    ModuleInstance = platform::ProgramModule();
    wizard_test::ScriptedUi ui;
    ui.pins = {std::string(orvel_test::kImportPin)};
    Bytes data = pfx;
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(data.size()), data.data()};
    const std::u16string password = testpki::Wide(kPfxPassword);
    const ImportOutcome outcome =
        ImportStoreToCard(&blob, reinterpret_cast<LPCWSTR>(password.c_str()), ui);
    ImportRun run;
    for (const wizard_test::Shown& shown : ui.messages) {
      const std::string text = "message " + std::to_string(shown.text);
      run.shown.push_back(text);
      if (shown.icon == MB_ICONHAND) run.failureMessages.push_back(text);
    }
    // Completed with the summary of one certificate imported.
    run.succeeded = outcome == ImportOutcome::Completed &&
                    ui.messages == std::vector<wizard_test::Shown>{{MB_ICONASTERISK, 17, 18}};
    EXPECT_EQ(ui.waitBegins, ui.waitEnds) << "wait cursor left on";
    return run;
  }
  // The driver deletes the temporary key container whatever the outcome.
  bool KeepsSoftwareKeyOnFailure() const override { return false; }
};

}  // namespace

const char* ImportPathName() { return "wizard"; }
std::unique_ptr<CImportPath> MakeImportPath() { return std::make_unique<CWizardPath>(); }

}  // namespace reliability
