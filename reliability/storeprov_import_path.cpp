// The store provider's road: a program adds the PFX's certificate, with its
// exportable key, to the personal store; the write callback asks whether the
// import goes to the card (Yes), asks for the PIN (typed) and writes it. The
// module's real dialogs run under the offscreen platform, answered as a
// person would.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "common/module_instance.h"
#include "common/non_copyable.h"
#include "platform/dialog_host.h"
#include "platform/handle_guards.h"
#include "platform/modal_dialog.h"
#include "platform/module_handle.h"
#include "platform/qt_application.h"
#include "storeprov/entry_points.h"
#include "storeprov/messages.h"
#include "storeprov/pin_prompt.h"
#include "support/fault_bench.h"
#include "support/key_input.h"
#include "test_pki.h"

namespace reliability {
namespace {

constexpr DWORD kImportFlags = 0x50001;

class CStoreProviderPath : public CImportPath, private NonCopyable {
 public:
  CStoreProviderPath() {
    ModuleInstance = platform::ProgramModule();
    EXPECT_NE(platform::EnsureQtApplication(), nullptr);
    platform::SetDialogShownHook([this](QDialog& dialog) { Answer(dialog); });
  }
  ~CStoreProviderPath() override { platform::SetDialogShownHook({}); }

  ImportRun Import(const Bytes& pfx) override {
    m_run = ImportRun{};
    Bytes data = pfx;
    CRYPT_DATA_BLOB blob = testpki::BlobOf(data);
    const CCertStore store(
        PFXImportCertStore(&blob, testpki::Wide(kPfxPassword).c_str(), CRYPT_EXPORTABLE));
    EXPECT_NE(store.Get(), nullptr);
    if (!store) return m_run;
    const CCertificateContext certificate(CertEnumCertificatesInStore(store.Get(), nullptr));
    EXPECT_NE(certificate.Get(), nullptr);
    if (certificate) {
      m_run.succeeded =
          CertStoreProvWriteCertCallback(nullptr, certificate.Get(), kImportFlags) == TRUE;
    }
    return m_run;
  }
  // The software key is deleted only after the card took the certificate.
  bool KeepsSoftwareKeyOnFailure() const override { return true; }

 private:
  // Yes to the question, the card's PIN at the prompt, OK to any notice or
  // error box (which the user was told).
  void Answer(QDialog& dialog) {
    if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
      const std::string text = "box " + box->text().toStdString();
      m_run.shown.push_back(text);
      if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
        yes->click();
      } else {
        m_run.failureMessages.push_back(text);
        box->button(QMessageBox::Ok)->click();
      }
      return;
    }
    auto* host = dynamic_cast<DialogHost*>(&dialog);
    ASSERT_NE(host, nullptr);
    if (host->Item(kPinEditId) != nullptr) {
      m_run.shown.push_back("pin");
      storeprov_test::TypeText(host->Item(kPinEditId), QString::fromLatin1(orvel_test::kImportPin));
      qobject_cast<QPushButton*>(host->Item(IDOK))->click();
      return;
    }
    const std::string text = "notice " + host->ItemText(kNoticeTextId).toStdString();
    m_run.shown.push_back(text);
    m_run.failureMessages.push_back(text);
    qobject_cast<QPushButton*>(host->Item(IDOK))->click();
  }

  ImportRun m_run;
};

}  // namespace

const char* ImportPathName() { return "storeprov"; }
std::unique_ptr<CImportPath> MakeImportPath() { return std::make_unique<CStoreProviderPath>(); }

}  // namespace reliability
