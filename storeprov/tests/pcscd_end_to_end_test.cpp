// The store provider as a person meets it: registered with the platform
// tool, a PFX imported into the personal store with the tool while the
// module's question and PIN dialog are answered (the autopilot, preloaded
// into the tool, answers them), a virtual card behind the real pcscd.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cardsim/pcscd_rig.h"
#include "platform_test/scoped_user_dir.h"
#include "support/card_certificates.h"
#include "support/tool_run.h"
#include "test_pki.h"

namespace storeprov_test {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t FilesIn(const fs::path& dir) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return 0;
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(dir, ec), fs::directory_iterator()));
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    m_card = CardWithCertificates(0x51, {});
    m_rig = std::make_unique<cardsim::PcscdRig>(
        std::vector<std::shared_ptr<cardsim::VirtualCard>>{m_card});
    m_rig->Start();
    ASSERT_NO_FATAL_FAILURE(RegisterCardWithTool());
    const ToolRun registered = Tool("register-module OrvelCertStore.dll");
    ASSERT_EQ(registered.status, 0) << registered.out;

    // A signing and encryption certificate with its exportable key, and
    // the certificate of the authority that issued it (without its key).
    EVP_PKEY* authorityKey = testpki::Key(1024, 8);
    testpki::CertSpec authoritySpec(authorityKey);
    authoritySpec.keyUsage = 0x06;
    authoritySpec.ca = true;
    authoritySpec.commonName = "Autoridad de prueba";
    authoritySpec.serial = 7000;
    auto authority = testpki::MakeCert(authoritySpec);
    EVP_PKEY* key = testpki::Key(1024, 7);
    testpki::CertSpec spec(key, authorityKey);
    spec.keyUsage = 0xA0;
    spec.commonName = "Usuario de prueba";
    spec.serial = 7001;
    auto certificate = testpki::MakeCert(spec);
    const testpki::Bytes pfx =
        testpki::MakePfx(testpki::PfxSpec{key, certificate.get(), {authority.get()}});
    m_pfxPath = m_userDir.Path() / "usuario.pfx";
    std::ofstream(m_pfxPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(pfx.data()), static_cast<std::streamsize>(pfx.size()));
  }

  // import-pfx with the question answered `answer` and the PIN typed.
  ToolRun Import(const std::string& answer) {
    return Tool("import-pfx " + m_pfxPath.string() + " --password secreto --exportable",
                "QT_QPA_PLATFORM=offscreen LD_PRELOAD=" + std::string(AUTOPILOT_PATH) +
                    " ORVEL_AUTOPILOT_PIN=1234 ORVEL_AUTOPILOT_ANSWER=" + answer +
                    " ORVEL_AUTOPILOT_LOG=" + LogPath().string());
  }
  fs::path LogPath() const { return m_userDir.Path() / "autopilot.log"; }
  fs::path SoftwareKeys() const { return m_userDir.Path() / "keys"; }

  platform_test::ScopedUserDir m_userDir;
  std::shared_ptr<cardsim::VirtualCard> m_card;
  std::unique_ptr<cardsim::PcscdRig> m_rig;
  fs::path m_pfxPath;
};

TEST_F(EndToEnd, YesAndThePinPutTheKeyAndCertificateOnTheCard) {
  const ToolRun imported = Import("yes");
  ASSERT_EQ(imported.status, 0) << imported.out;
  EXPECT_NE(imported.out.find("2 certificates added to MY"), std::string::npos) << imported.out;
  const std::string log = ReadText(LogPath());
  EXPECT_NE(log.find("answered yes"), std::string::npos) << log;
  EXPECT_NE(log.find("pin \""), std::string::npos) << log;
  EXPECT_EQ(log.find("notice"), std::string::npos) << log;

  // The key in both roles under the first free reference, consistent.
  const auto keys = m_card->Keys();
  ASSERT_EQ(keys.size(), 2u);
  for (const auto& [where, key] : keys) {
    EXPECT_EQ(where.first, 32);
  }
  for (const cardsim::KeyRole role : {cardsim::KeyRole::Exchange, cardsim::KeyRole::Signature}) {
    const auto key = m_card->Key(32, role);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->Consistent());
  }
  // The software copy of the key is gone.
  EXPECT_EQ(FilesIn(SoftwareKeys()), 0u);

  // The personal store shows it from the card, with the card's provider.
  const ToolRun listed = Tool("list-store MY");
  ASSERT_EQ(listed.status, 0) << listed.out;
  EXPECT_NE(listed.out.find("Usuario de prueba"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("Key provider: OrvelCSP"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("Key container: " + SerialText(0x51)), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("Provider type: 1\n"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("Key spec: 3\n"), std::string::npos) << listed.out;
  // The authority's certificate went on to the default store, which keeps it.
  EXPECT_NE(listed.out.find("Autoridad de prueba"), std::string::npos) << listed.out;
}

TEST_F(EndToEnd, NoLeavesTheCertificateInTheDefaultStoreWithItsSoftwareKey) {
  const ToolRun imported = Import("no");
  ASSERT_EQ(imported.status, 0) << imported.out;
  EXPECT_NE(ReadText(LogPath()).find("answered no"), std::string::npos);
  EXPECT_TRUE(m_card->Keys().empty());
  EXPECT_EQ(FilesIn(SoftwareKeys()), 1u);

  const ToolRun listed = Tool("list-store MY");
  ASSERT_EQ(listed.status, 0) << listed.out;
  EXPECT_NE(listed.out.find("Usuario de prueba"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("Autoridad de prueba"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("OrvelCSP"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("Key provider: "), std::string::npos) << listed.out;
}

}  // namespace
}  // namespace storeprov_test
