// Any bytes as a PFX file: recognition, the password check and the import
// into a store, directly or through the wizard's card import driver (which
// opens the store, picks the certificates with usable keys and prepares
// each for the card; the PIN prompt is always cancelled).
//
// Input: flags (bit 0: no password, bit 1: through the driver, bit 2: keys
// not exportable), password length (byte, at most 63) and its characters
// (one UTF-16 unit per byte), then the PFX.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "card_harness.h"
#include "platform/handle_guards.h"
#include "platform/wincrypt.h"
#include "wizard/import_driver.h"
#include "wizard/import_ui.h"

namespace {

class CancellingUi : public CImportUi {
 public:
  void ShowPageMessage(UINT, UINT, UINT) override {}
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  std::optional<CPinText> PromptForPin() override { return std::nullopt; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvel_fuzz;
  PrepareProcess();
  InputReader in(data, size);
  const std::uint8_t flags = in.Byte();
  const auto passwordBytes = in.Take(in.Byte() % 64);
  const std::u16string password(passwordBytes.begin(), passwordBytes.end());
  const auto rest = in.Rest();
  // An exact-size copy: a read past the file is an overflow.
  std::vector<BYTE> pfx(rest.begin(), rest.end());
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), pfx.data()};
  const auto* passwordText =
      (flags & 0x01) != 0 ? nullptr : reinterpret_cast<LPCWSTR>(password.c_str());

  if ((flags & 0x02) != 0) {
    CancellingUi ui;
    ImportStoreToCard(&blob, passwordText, ui);
  } else {
    PFXIsPFXBlob(&blob);
    PFXVerifyPassword(&blob, passwordText, 0);
    const DWORD importFlags = (flags & 0x04) != 0 ? 0 : CRYPT_EXPORTABLE;
    if (const CCertStore store(PFXImportCertStore(&blob, passwordText, importFlags)); store) {
      PCCERT_CONTEXT certificate = nullptr;
      while ((certificate = CertEnumCertificatesInStore(store.Get(), certificate)) != nullptr) {
        HasUsablePrivateKey(certificate);
      }
    }
  }
  // Key containers the import made stay with the user; a fuzzing run makes
  // millions of them.
  std::error_code ignored;
  std::filesystem::remove_all(UserDir() / "keys", ignored);
  return 0;
}
