// The real clients through the real pcscd, with a vpcd reader holding a
// virtual card: OpenSC's pkcs11-tool, GnuTLS's p11tool, OpenSSL's pkcs11
// engine, OpenSSH's ssh-keygen and NSS's modutil and certutil (needs root).
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "cardsim/pcscd_rig.h"
#include "platform/card_database.h"
#include "token_card.h"

namespace p11_test {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string output;
};

// Runs a shell command; its output and error together.
Outcome Shell(const std::string& command) {
  Outcome run;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// One daemon for the suite (the PC/SC client library reads its socket path
// once per process); the card holds a signature key and a key in both roles.
class ClientsThroughPcscd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    userDir_ = new platform_test::ScopedUserDir();
    const Bytes atr = cardsim::VirtualCard::Atr();
    ASSERT_TRUE(platform::RegisterCardType({"DRAV-NOR", atr, Bytes(atr.size(), 0xFF)}));
    token_ = new TokenCard(MakeTokenCard({{0x20, 0x2000, 0}, {0x21, 0x6400, 1}}));
    rig_ = new cardsim::PcscdRig({token_->card});
    rig_->Start();
  }
  static void TearDownTestSuite() {
    delete rig_;
    delete token_;
    delete userDir_;
  }
  void SetUp() override { ASSERT_TRUE(rig_->Running()); }
  static std::string Module() { return Module::Path(); }
  static fs::path Dir() { return userDir_->Path(); }

  static platform_test::ScopedUserDir* userDir_;
  static TokenCard* token_;
  static cardsim::PcscdRig* rig_;
};

platform_test::ScopedUserDir* ClientsThroughPcscd::userDir_ = nullptr;
TokenCard* ClientsThroughPcscd::token_ = nullptr;
cardsim::PcscdRig* ClientsThroughPcscd::rig_ = nullptr;

struct ToolCase {
  const char* name;
  std::string arguments;  // after the module
  std::vector<std::string> expected;
};

class PkcsToolTest : public ClientsThroughPcscd, public ::testing::WithParamInterface<ToolCase> {};

TEST_P(PkcsToolTest, Lists) {
  const Outcome run = Shell("pkcs11-tool --module " + Module() + " " + GetParam().arguments);
  EXPECT_EQ(run.status, 0) << run.output;
  for (const std::string& text : GetParam().expected) {
    EXPECT_NE(run.output.find(text), std::string::npos) << text << " in\n" << run.output;
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
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("Titular 0"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Titular 1"), std::string::npos) << run.output;
  run = Shell("GNUTLS_PIN=1234 " + provider +
              "--list-privkeys --login 'pkcs11:token=Orvel%200123456789AB'");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("Type: Private key (RSA-1024)"), std::string::npos) << run.output;
}

TEST_F(ClientsThroughPcscd, OpensslSignsThroughTheEngineAndTheCertificateVerifies) {
  const fs::path data = Dir() / "data.txt", signature = Dir() / "data.sig",
                 certificate = Dir() / "cert.der", key = Dir() / "key.pem";
  WriteFile(data, Bytes{'h', 'o', 'l', 'a'});
  WriteFile(certificate, token_->keys[0].certificate);
  const std::string engine =
      "PKCS11_MODULE_PATH=" + Module() + " openssl dgst -sha256 -engine pkcs11 -keyform engine ";
  Outcome run = Shell(engine + "-sign 'pkcs11:object=Titular%200;type=private;pin-value=1234' -out " +
                  signature.string() + " " + data.string());
  ASSERT_EQ(run.status, 0) << run.output;
  run = Shell("openssl x509 -inform DER -in " + certificate.string() + " -pubkey -noout > " +
              key.string());
  ASSERT_EQ(run.status, 0) << run.output;
  run = Shell("openssl dgst -sha256 -verify " + key.string() + " -signature " +
              signature.string() + " " + data.string());
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("Verified OK"), std::string::npos) << run.output;
}

TEST_F(ClientsThroughPcscd, SshKeygenPrintsTheCardKeys) {
  const Outcome run = Shell("ssh-keygen -D " + Module());
  EXPECT_EQ(run.status, 0) << run.output;
  // One line per public key, each of its certificate's key.
  const fs::path certificate = Dir() / "ssh.der";
  for (const KeyOnCard& key : token_->keys) {
    WriteFile(certificate, key.certificate);
    const Outcome expected = Shell("openssl x509 -inform DER -in " + certificate.string() +
                               " -pubkey -noout | ssh-keygen -i -m PKCS8 -f /dev/stdin");
    ASSERT_EQ(expected.status, 0) << expected.output;
    const std::string line = expected.output.substr(0, expected.output.find('\n'));
    EXPECT_NE(run.output.find(line), std::string::npos) << line << " in\n" << run.output;
  }
}

TEST_F(ClientsThroughPcscd, NssDatabaseWithTheModuleListsTheCertificates) {
  const fs::path db = Dir() / "nssdb";
  fs::create_directories(db);
  const std::string sql = "sql:" + db.string();
  Outcome run = Shell("certutil -N -d " + sql + " --empty-password");
  ASSERT_EQ(run.status, 0) << run.output;
  run = Shell("modutil -force -dbdir " + sql + " -add Orvel -libfile " + Module());
  ASSERT_EQ(run.status, 0) << run.output;
  run = Shell("certutil -L -d " + sql + " -h all");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("Orvel 0123456789AB:Titular 0"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Orvel 0123456789AB:Titular 1"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace p11_test
