// From a PFX to a signature a Linux program makes: the import program, driven
// by its autopilot, puts the PFX's key and certificate on a virtual card
// behind the real pcscd; pkcs11-tool then signs with the card through the
// module, and openssl verifies the signature with the PFX's certificate
// (needs root).
#include <memory>

#include "cardsim/pcscd_rig.h"
#include "platform/card_database.h"
#include "platform/provider_registry.h"
#include "test_pki.h"
#include "token_card.h"
#include "wizard_launch.h"

namespace p11_test {
namespace {

namespace fs = std::filesystem;

constexpr char kPassword[] = "Contraseña de prueba";
constexpr char kImportPin[] = "4711";

TEST(WizardImport, ThePfxKeySignsThroughTheModuleAndOpensslVerifies) {
  platform_test::ScopedUserDir userDir;
  const fs::path dir = userDir.Path();
  ASSERT_TRUE(platform::RegisterProvider("OrvelCSP", PROV_RSA_FULL, "liborvelcsp.so"));
  const Bytes atr = cardsim::VirtualCard::Atr();
  ASSERT_TRUE(platform::RegisterCardType({"DRAV-NOR", atr, Bytes(atr.size(), 0xFF)}));
  cardsim::CardSpec spec;
  spec.serial = kSerial;
  spec.pin = kImportPin;
  auto card = cardsim::VirtualCard::MakeFresh(spec);
  cardsim::PcscdRig rig({card});
  rig.Start();
  ASSERT_TRUE(rig.Running());

  EVP_PKEY* key = testpki::Key(1024, 3);
  testpki::CertSpec certSpec(key);
  certSpec.keyUsage = 0x80;  // digital signature: the signature role
  certSpec.commonName = "Firmante importada";
  auto certificate = testpki::MakeCert(certSpec);
  testpki::PfxSpec pfxSpec(key, certificate.get());
  pfxSpec.password = kPassword;
  WriteFile(dir / "firmante.pfx", testpki::MakePfx(pfxSpec));

  const fs::path bin = wizard_launch::ProgramDirectory();
  wizard_launch::WizardRun run;
  run.program = bin / "OrvelImportCertificate";
  run.autopilot = bin / "liborvel_wizard_autopilot.so";
  run.file = (dir / "firmante.pfx").string();
  run.password = kPassword;
  run.pin = kImportPin;
  run.log = dir / "autopilot.log";
  const wizard_launch::WizardExit exit = wizard_launch::RunWizard(run);
  ASSERT_TRUE(exit.exited);
  ASSERT_EQ(exit.code, 0);
  ASSERT_EQ(card->Keys().size(), 1u);

  const fs::path data = dir / "datos.txt", signature = dir / "datos.sig",
                 der = dir / "firmante.der", publicKey = dir / "firmante.pem";
  WriteFile(data, Bytes{'f', 'i', 'r', 'm', 'a'});
  WriteFile(der, testpki::Der(certificate.get()));
  Outcome tool = Shell("pkcs11-tool --module " + Module::Path() + " --login --pin " + kImportPin +
                       " --sign --mechanism SHA256-RSA-PKCS --label '" + certSpec.commonName +
                       "' --input-file " + data.string() + " --output-file " + signature.string());
  ASSERT_EQ(tool.status, 0) << tool.out;
  tool = Shell("openssl x509 -inform DER -in " + der.string() + " -pubkey -noout > " +
               publicKey.string());
  ASSERT_EQ(tool.status, 0) << tool.out;
  tool = Shell("openssl dgst -sha256 -verify " + publicKey.string() + " -signature " +
               signature.string() + " " + data.string());
  EXPECT_EQ(tool.status, 0) << tool.out;
  EXPECT_NE(tool.out.find("Verified OK"), std::string::npos) << tool.out;
}

}  // namespace
}  // namespace p11_test
