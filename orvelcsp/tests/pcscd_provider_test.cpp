// "OrvelCSP" through the real PC/SC stack: a private pcscd whose vpcd reader
// holds a virtual card prepared with key records.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include "cardsim/pcscd_rig.h"
#include "keyprep/card_provider.h"
#include "provider_test_support.h"

namespace orvelcsp_test {
namespace {

const KeyId kId = card_test::MakeKeyId(0x10);

class ProviderThroughPcscd : public ProviderTest {
 protected:
  std::shared_ptr<cardsim::VirtualCard> PreparedCard() {
    auto card = MakeCard(kSerial);
    WriteKeyRecords(*card, {{.reference = 0x20, .id = kId, .roleWord = 0x2000}});
    return card;
  }
  static void ExpectStored(const cardsim::VirtualCard& card, const Bytes& der) {
    const auto entries = ReadCertificateDirectory(card);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].identifierElement, card_test::IdElement(kId));
    EXPECT_EQ(entries[0].pathText, "\\3F11\\3F80");
    EXPECT_EQ(ReadCertificateFile(card, entries[0].path), der);
  }
};

TEST_F(ProviderThroughPcscd, ProgramLinkedWithPcscLite) {
  auto card = PreparedCard();
  cardsim::PcscdRig rig({card});
  rig.Start();
  const Bytes der = CertificateDer();
  const std::string name = ContainerName(kSerial, 0x2000, 0x20);
  EXPECT_FALSE(AttachCertificateToKey(kCardProviderName, name.c_str(), der.data(),
                                      static_cast<DWORD>(der.size()), "0000"));
  EXPECT_EQ(card->PinTriesLeft(), 2);
  ASSERT_TRUE(AttachCertificateToKey(kCardProviderName, name.c_str(), der.data(),
                                     static_cast<DWORD>(der.size()), kPin));
  rig.Stop();
  ExpectStored(*card, der);
}

TEST_F(ProviderThroughPcscd, ProgramWithoutPcscLibrary) {
  auto card = PreparedCard();
  cardsim::PcscdRig rig({card});
  rig.Start();
  const Bytes der = CertificateDer(1);
  const auto file = m_dir / "certificate.der";
  {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(der.data()), static_cast<std::streamsize>(der.size()));
  }
  const std::string probe = (testpki::ProgramDir() / "orvelcsp_attach_probe").string();
  const std::string name = ContainerName(kSerial, 0x2000, 0x20);
  // The child finds the private daemon and the registration through the
  // environment it inherits.
  const std::string command = probe + " '" + name + "' " + file.string() + " " + kPin;
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  rig.Stop();
  ExpectStored(*card, der);
}

}  // namespace
}  // namespace orvelcsp_test
