// The card's keys as a person uses them: a PFX imported with the platform
// tool and diverted onto a virtual card behind the real pcscd (Yes + PIN,
// answered by the autopilot, as in the store provider's end-to-end tests),
// then `orvelplatform sign` and `decrypt` with that certificate, checked by
// the openssl command and against the software key's own signature.
#include <gtest/gtest.h>

#include <openssl/pem.h>
#include <openssl/sha.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cardsim/pcscd_rig.h"
#include "platform_test/scoped_user_dir.h"
#include "support/card_certificates.h"
#include "support/tool_run.h"
#include "test_pki.h"

namespace {

namespace fs = std::filesystem;
using storeprov_test::Tool;
using storeprov_test::ToolRun;

testpki::Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void WriteBytes(const fs::path& path, const testpki::Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class CardKeysEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    m_card = storeprov_test::CardWithCertificates(0x52, {});
    m_rig = std::make_unique<cardsim::PcscdRig>(
        std::vector<std::shared_ptr<cardsim::VirtualCard>>{m_card});
    m_rig->Start();
    ASSERT_NO_FATAL_FAILURE(storeprov_test::RegisterCardWithTool());

    testpki::CertSpec spec(m_key);
    spec.keyUsage = 0xA0;
    spec.commonName = "Firmante de prueba";
    spec.serial = 7101;
    auto certificate = testpki::MakeCert(spec);
    const testpki::Bytes der = testpki::Der(certificate.get());
    unsigned char hash[SHA_DIGEST_LENGTH];
    SHA1(der.data(), der.size(), hash);
    for (unsigned char b : hash) {
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02X", b);
      m_thumbprint += digits;
    }
    WriteBytes(Path("firmante.pfx"), testpki::MakePfx(testpki::PfxSpec{m_key, certificate.get()}));
    const platform::crypt::BioPtr bio(BIO_new_file(Path("pub.pem").c_str(), "w"));
    ASSERT_EQ(PEM_write_bio_PUBKEY(bio.get(), m_key), 1);
    WriteBytes(Path("documento"), testpki::Bytes(1000, 'x'));
  }
  fs::path Path(const std::string& name) const { return m_userDir.Path() / name; }
  std::string KeyArgs(const std::string& pin) const {
    return "--thumbprint " + m_thumbprint + (pin.empty() ? "" : " --pin " + pin) + " ";
  }
  static int Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
  }

  platform_test::ScopedUserDir m_userDir;
  EVP_PKEY* m_key = testpki::Key(1024, 9);
  std::shared_ptr<cardsim::VirtualCard> m_card;
  std::unique_ptr<cardsim::PcscdRig> m_rig;
  std::string m_thumbprint;
};

TEST_F(CardKeysEndToEnd, DivertedKeySignsAndDecryptsAsTheSoftwareKeyDid) {
  const std::string document = Path("documento").string();
  // The software key's signature, in a user directory of its own (no card store there).
  const fs::path softwareDir = Path("software");
  fs::create_directories(softwareDir);
  const std::string software = "ORVEL_USER_DIR=" + softwareDir.string();
  ASSERT_EQ(
      Tool("import-pfx " + Path("firmante.pfx").string() + " --password secreto", software).status,
      0);
  const ToolRun softSign =
      Tool("sign " + KeyArgs("") + document + " " + Path("soft.sig").string(), software);
  ASSERT_EQ(softSign.status, 0) << softSign.out;

  // The import diverted onto the card: Yes and the PIN.
  ASSERT_EQ(Tool("register-module OrvelCertStore.dll").status, 0);
  const ToolRun imported =
      Tool("import-pfx " + Path("firmante.pfx").string() + " --password secreto --exportable",
           "QT_QPA_PLATFORM=offscreen LD_PRELOAD=" + std::string(AUTOPILOT_PATH) +
               " ORVEL_AUTOPILOT_PIN=1234 ORVEL_AUTOPILOT_ANSWER=yes");
  ASSERT_EQ(imported.status, 0) << imported.out;
  ASSERT_EQ(m_card->Keys().size(), 2u);

  const ToolRun cardSign =
      Tool("sign " + KeyArgs("1234") + document + " " + Path("card.sig").string());
  ASSERT_EQ(cardSign.status, 0) << cardSign.out;
  EXPECT_EQ(ReadBytes(Path("card.sig")), ReadBytes(Path("soft.sig")));
  EXPECT_EQ(Shell("openssl dgst -sha256 -verify " + Path("pub.pem").string() + " -signature " +
                  Path("card.sig").string() + " " + document),
            0);

  WriteBytes(Path("secreto"),
             {'c', 'l', 'a', 'v', 'e', ' ', 'd', 'e', ' ', 's', 'e', 's', 'i', 'o', 'n'});
  ASSERT_EQ(Shell("openssl pkeyutl -encrypt -pubin -inkey " + Path("pub.pem").string() + " -in " +
                  Path("secreto").string() + " -out " + Path("cripto").string()),
            0);
  const ToolRun decrypted =
      Tool("decrypt " + KeyArgs("1234") + Path("cripto").string() + " " + Path("claro").string());
  ASSERT_EQ(decrypted.status, 0) << decrypted.out;
  EXPECT_EQ(ReadBytes(Path("claro")), ReadBytes(Path("secreto")));

  // Without the PIN, or with a wrong one, the tool says so.
  const ToolRun noPin = Tool("sign " + KeyArgs("") + document + " " + Path("x.sig").string());
  EXPECT_EQ(noPin.status, 1);
  EXPECT_NE(noPin.out.find("needs the card's PIN"), std::string::npos) << noPin.out;
  const ToolRun wrongPin =
      Tool("sign " + KeyArgs("9999") + document + " " + Path("x.sig").string());
  EXPECT_EQ(wrongPin.status, 1);
  EXPECT_NE(wrongPin.out.find("wrong PIN"), std::string::npos) << wrongPin.out;
}

}  // namespace
