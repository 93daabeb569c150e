// The real clients through the real pcscd, with a vpcd reader holding a
// virtual card: OpenSC's pkcs11-tool, GnuTLS's p11tool, OpenSSL's pkcs11
// engine, OpenSSH's ssh-keygen and NSS's modutil and certutil (needs root).
#include <filesystem>

#include "cardsim/pcscd_rig.h"
#include "platform/card_database.h"
#include "token_card.h"

namespace p11_test {
namespace {

namespace fs = std::filesystem;

// One daemon for the suite (the PC/SC client library reads its socket path
// once per process); the card holds a signature key and a key in both roles.
class ClientsThroughPcscd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    m_userDir = new platform_test::ScopedUserDir();
    const Bytes atr = cardsim::VirtualCard::Atr();
    ASSERT_TRUE(platform::RegisterCardType({"DRAV-NOR", atr, Bytes(atr.size(), 0xFF)}));
    m_token = new TokenCard(MakeTokenCard({{0x20, 0x2000, 0}, {0x21, 0x6400, 1}}));
    m_rig = new cardsim::PcscdRig({m_token->card});
    m_rig->Start();
  }
  static void TearDownTestSuite() {
    delete m_rig;
    delete m_token;
    delete m_userDir;
  }
  void SetUp() override { ASSERT_TRUE(m_rig->Running()); }
  static std::string Module() { return Module::Path(); }
  static fs::path Dir() { return m_userDir->Path(); }

  static platform_test::ScopedUserDir* m_userDir;
  static TokenCard* m_token;
  static cardsim::PcscdRig* m_rig;
};

platform_test::ScopedUserDir* ClientsThroughPcscd::m_userDir = nullptr;
TokenCard* ClientsThroughPcscd::m_token = nullptr;
cardsim::PcscdRig* ClientsThroughPcscd::m_rig = nullptr;

struct ToolCase {
  const char* name;
  std::string arguments;  // after the module
  std::vector<std::string> expected;
};

class PkcsToolTest : public ClientsThroughPcscd, public ::testing::WithParamInterface<ToolCase> {};

TEST_P(PkcsToolTest, Lists) {
  const Outcome run = Shell("pkcs11-tool --module " + Module() + " " + GetParam().arguments);
  EXPECT_EQ(run.status, 0) << run.out;
  for (const std::string& text : GetParam().expected) {
    EXPECT_NE(run.out.find(text), std::string::npos) << text << " in\n" << run.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Clients, PkcsToolTest,
    ::testing::Values(
        ToolCase{"Slots", "--list-slots", {"Orvel 0123456789AB", "Virtual PCD 00 00"}},
        ToolCase{"Objects",
                 "--list-objects",
                 {"Certificate Object", "label:      Titular 0", "label:      Titular 1",
                  "Public Key Object; RSA 1024 bits"}},
        ToolCase{"PrivateKeysAfterLogin",
                 "--login --pin 1234 --list-objects --type privkey",
                 {"Private Key Object; RSA", "Usage:      sign", "decrypt, sign"}},
        ToolCase{"SelfTest", "--login --pin 1234 --test", {"No errors"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ClientsThroughPcscd, P11toolListsCertificatesAndPrivateKeys) {
  const std::string provider = "p11tool --provider " + Module() + " ";
  Outcome run = Shell(provider + "--list-all-certs 'pkcs11:token=Orvel%200123456789AB'");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Titular 0"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Titular 1"), std::string::npos) << run.out;
  run = Shell("GNUTLS_PIN=1234 " + provider +
              "--list-privkeys --login 'pkcs11:token=Orvel%200123456789AB'");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Type: Private key (RSA-1024)"), std::string::npos) << run.out;
}

TEST_F(ClientsThroughPcscd, OpensslSignsThroughTheEngineAndTheCertificateVerifies) {
  const fs::path data = Dir() / "data.txt", signature = Dir() / "data.sig",
                 certificate = Dir() / "cert.der", key = Dir() / "key.pem";
  WriteFile(data, Bytes{'h', 'o', 'l', 'a'});
  WriteFile(certificate, m_token->keys[0].certificate);
  const std::string engine =
      "PKCS11_MODULE_PATH=" + Module() + " openssl dgst -sha256 -engine pkcs11 -keyform engine ";
  Outcome run =
      Shell(engine + "-sign 'pkcs11:object=Titular%200;type=private;pin-value=1234' -out " +
            signature.string() + " " + data.string());
  ASSERT_EQ(run.status, 0) << run.out;
  run = Shell("openssl x509 -inform DER -in " + certificate.string() + " -pubkey -noout > " +
              key.string());
  ASSERT_EQ(run.status, 0) << run.out;
  run = Shell("openssl dgst -sha256 -verify " + key.string() + " -signature " + signature.string() +
              " " + data.string());
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Verified OK"), std::string::npos) << run.out;
}

TEST_F(ClientsThroughPcscd, SshKeygenPrintsTheCardKeys) {
  const Outcome run = Shell("ssh-keygen -D " + Module());
  EXPECT_EQ(run.status, 0) << run.out;
  // One line per public key, each of its certificate's key.
  const fs::path certificate = Dir() / "ssh.der";
  for (const KeyOnCard& key : m_token->keys) {
    WriteFile(certificate, key.certificate);
    const Outcome expected = Shell("openssl x509 -inform DER -in " + certificate.string() +
                                   " -pubkey -noout | ssh-keygen -i -m PKCS8 -f /dev/stdin");
    ASSERT_EQ(expected.status, 0) << expected.out;
    const std::string line = expected.out.substr(0, expected.out.find('\n'));
    EXPECT_NE(run.out.find(line), std::string::npos) << line << " in\n" << run.out;
  }
}

TEST_F(ClientsThroughPcscd, NssDatabaseWithTheModuleListsTheCertificates) {
  const fs::path db = Dir() / "nssdb";
  fs::create_directories(db);
  const std::string sql = "sql:" + db.string();
  Outcome run = Shell("certutil -N -d " + sql + " --empty-password");
  ASSERT_EQ(run.status, 0) << run.out;
  run = Shell("modutil -force -dbdir " + sql + " -add Orvel -libfile " + Module());
  ASSERT_EQ(run.status, 0) << run.out;
  run = Shell("certutil -L -d " + sql + " -h all");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Orvel 0123456789AB:Titular 0"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Orvel 0123456789AB:Titular 1"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace p11_test
