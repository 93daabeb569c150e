// The platform tool's store and module commands, run end to end as a person
// runs them, in a private per-user directory, with the test store-provider
// module standing in for a card store.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "orvel_test/program_run.h"
#include "platform/provider_registry.h"
#include "platform_test/scoped_user_dir.h"
#include "test_pki.h"

namespace {

// What the tool printed on either stream, and its exit status.
struct ToolRun : orvel_test::ProgramRun {
  std::string err;
};

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class StoreCommands : public ::testing::Test {
 protected:
  ToolRun Tool(const std::string& arguments, const std::string& input = "") {
    const std::filesystem::path errors = m_dir.Path() / "stderr.txt";
    std::string command = "printf %s " + Quote(input) + " | env";
    for (const auto& [name, value] : m_environment) command += " " + name + "=" + Quote(value);
    command +=
        " " + std::string(ORVELPLATFORM_PATH) + " " + arguments + " 2>" + Quote(errors.string());
    return ToolRun{orvel_test::RunProgram(command), Read(errors)};
  }
  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string WriteDer(const std::string& name, long serial, const std::string& commonName) {
    testpki::CertSpec spec{testpki::Key(1024, 1)};
    spec.serial = serial;
    spec.commonName = commonName;
    const testpki::Bytes der = testpki::Der(testpki::MakeCert(spec).get());
    const std::filesystem::path path = m_dir.Path() / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(der.data()), static_cast<std::streamsize>(der.size()));
    return path.string();
  }
  std::string WritePfx(const std::string& name, const std::string& commonName) {
    testpki::CertSpec spec{testpki::Key(1024, 0)};
    spec.commonName = commonName;
    spec.keyUsage = 0xA0;
    auto cert = testpki::MakeCert(spec);
    testpki::PfxSpec pfx{testpki::Key(1024, 0), cert.get()};
    const testpki::Bytes bytes = testpki::MakePfx(pfx);
    const std::filesystem::path path = m_dir.Path() / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  std::string Log() const { return Read(m_dir.Path() / "module.log"); }
  void RegisterTestStore() {
    ToolRun run = Tool("register-module " + Quote(TEST_STORE_MODULE_PATH));
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.out, "DllRegisterServer: 0x00000000\n");
  }

  platform_test::ScopedUserDir m_dir;
  std::map<std::string, std::string> m_environment{
      {"ORVEL_TEST_STORE_LOG", (m_dir.Path() / "module.log").string()}};
};

TEST_F(StoreCommands, ModulesRegisterOnceAndUnregisterOnce) {
  RegisterTestStore();
  EXPECT_EQ(Log(), "attach\ndetach\n");
  EXPECT_TRUE(std::filesystem::exists(m_dir.Path() / "physical_stores.json"));

  ToolRun again = Tool("register-module " + Quote(TEST_STORE_MODULE_PATH));
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.out, "DllRegisterServer: 0x80004005\n");
  EXPECT_NE(again.err.find("failed (0x80004005)"), std::string::npos);

  ToolRun unregister = Tool("unregister-module " + Quote(TEST_STORE_MODULE_PATH));
  EXPECT_EQ(unregister.status, 0);
  EXPECT_EQ(unregister.out, "DllUnregisterServer: 0x00000000\n");
  ToolRun twice = Tool("unregister-module " + Quote(TEST_STORE_MODULE_PATH));
  EXPECT_EQ(twice.status, 1);
  EXPECT_EQ(twice.out, "DllUnregisterServer: 0x80004005\n");

  ToolRun missing = Tool("register-module NoSuchModule.dll");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot load NoSuchModule.dll"), std::string::npos);
  ToolRun notAModule = Tool("register-module " + Quote(ORVELPLATFORM_PATH));
  EXPECT_EQ(notAModule.status, 1);
  EXPECT_EQ(Tool("register-module").status, 2);
}

TEST_F(StoreCommands, ListStoreShowsTheCardStoresCertificatesWithTheirKeyProvider) {
  ToolRun empty = Tool("list-store");
  EXPECT_EQ(empty.status, 0) << empty.err;
  EXPECT_EQ(empty.out, "0 certificates in MY\n");

  RegisterTestStore();
  m_environment["ORVEL_TEST_STORE_CERT"] = WriteDer("tarjeta.der", 21, "Tarjeta Uno");
  ToolRun run = Tool("list-store MY");
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string expectedStart =
      "Certificate 1\n"
      "  Subject: CN=Tarjeta Uno\n"
      "  Thumbprint: ";
  EXPECT_EQ(run.out.substr(0, expectedStart.size()), expectedStart);
  EXPECT_NE(run.out.find("  Key provider: TestCSP\n"
                         "  Key container: tarjeta-1\n"
                         "  Provider type: 1\n"
                         "  Key spec: 1\n"
                         "1 certificate in MY\n"),
            std::string::npos);
  // Registration loads and unloads the module; the store loads it again,
  // and it stays loaded after the store closes until the tool ends.
  EXPECT_EQ(Log(), "attach\ndetach\nattach\nopen\nclose\n");

  EXPECT_EQ(Tool("list-store ../MY").status, 1);
  EXPECT_EQ(Tool("list-store A B").status, 2);
}

TEST_F(StoreCommands, ImportOffersEachCertificateToTheCardStoreFirst) {
  RegisterTestStore();
  const std::string pfx = WritePfx("persona.pfx", "Persona Importada");
  ToolRun run = Tool("import-pfx " + Quote(pfx) + " --password secreto --exportable");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "added: CN=Persona Importada\n1 certificate added to MY\n");
  EXPECT_NE(Log().find("open\nwrite 0x00050001\nclose\n"), std::string::npos);
  // Accepted by the card store, which keeps nothing of its own: the user's
  // persistent store did not get it.
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "stores" / "MY.json"));
}

TEST_F(StoreCommands, WhatTheCardStoreRefusesLandsInThePersonalStore) {
  RegisterTestStore();
  m_environment["ORVEL_TEST_STORE_REFUSE"] = "1";
  const std::string pfx = WritePfx("persona.pfx", "Persona Rechazada");
  ToolRun run = Tool("import-pfx " + Quote(pfx), "secreto\n");  // the password on standard input
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(Log().find("write 0x00050001\n"), std::string::npos);

  m_environment.erase("ORVEL_TEST_STORE_REFUSE");
  ToolRun list = Tool("list-store");
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("  Subject: CN=Persona Rechazada\n"), std::string::npos);
  EXPECT_NE(list.out.find("  Key provider: Orvel Software RSA Provider\n"), std::string::npos);
  EXPECT_NE(list.out.find("  Key spec: 1\n1 certificate in MY\n"), std::string::npos);
}

TEST_F(StoreCommands, ImportFailuresAreReported) {
  const std::string pfx = WritePfx("persona.pfx", "Persona");
  ToolRun wrong = Tool("import-pfx " + Quote(pfx) + " --password otra");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("wrong password"), std::string::npos);
  ToolRun noPassword = Tool("import-pfx " + Quote(pfx));
  EXPECT_EQ(noPassword.status, 1);
  EXPECT_NE(noPassword.err.find("no password"), std::string::npos);
  ToolRun missing =
      Tool("import-pfx " + Quote((m_dir.Path() / "none.pfx").string()) + " --password x");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos);
  const std::string der = WriteDer("no-pfx.der", 3, "X");
  ToolRun notPfx = Tool("import-pfx " + Quote(der) + " --password x");
  EXPECT_EQ(notPfx.status, 1);
  EXPECT_NE(notPfx.err.find("is not a PFX file"), std::string::npos);
  EXPECT_EQ(Tool("import-pfx").status, 2);
  EXPECT_EQ(Tool("import-pfx a b").status, 2);
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "stores" / "MY.json"));
}

TEST_F(StoreCommands, WatchStoreWaitsResynchronisesAndListsAgain) {
  RegisterTestStore();
  m_environment["ORVEL_TEST_STORE_CERT"] = WriteDer("primera.der", 31, "Primera");
  m_environment["ORVEL_TEST_STORE_RESYNC_CERT"] = WriteDer("segunda.der", 32, "Segunda");
  m_environment["ORVEL_TEST_STORE_SIGNAL_MS"] = "200";
  ToolRun run = Tool("watch-store --timeout 10");
  EXPECT_EQ(run.status, 0) << run.err;
  const auto changed = run.out.find("MY changed\n");
  ASSERT_NE(changed, std::string::npos) << run.out;
  EXPECT_NE(run.out.find("1 certificate in MY\nWaiting up to 10 s for a change of MY\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("  Subject: CN=Segunda\n", changed), std::string::npos);
  EXPECT_NE(run.out.find("2 certificates in MY\n", changed), std::string::npos);
  EXPECT_NE(Log().find("control 2\ncontrol 1\n"), std::string::npos);
}

TEST_F(StoreCommands, WatchStoreReportsTimeOutsAndStoresThatCannotNotify) {
  ToolRun alone = Tool("watch-store --timeout 1");
  EXPECT_EQ(alone.status, 1);
  EXPECT_NE(alone.err.find("cannot report changes"), std::string::npos);
  RegisterTestStore();
  ToolRun quiet = Tool("watch-store MY --timeout 1");
  EXPECT_EQ(quiet.status, 3);
  EXPECT_NE(quiet.err.find("no change of MY within 1 s"), std::string::npos);
  EXPECT_EQ(Tool("watch-store --timeout 0").status, 2);
  EXPECT_EQ(Tool("watch-store --timeout x").status, 2);
}

TEST_F(StoreCommands, RegisterProviderWritesTheProviderDatabase) {
  ToolRun run = Tool("register-provider OrvelCSP OrvelCSP.dll");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "OrvelCSP: type 1, module OrvelCSP.dll\n");
  EXPECT_NE(run.err.find("warning: no module OrvelCSP.dll"), std::string::npos);
  bool found = false;
  for (const auto& p : platform::ListProviders()) {
    if (p.name == "OrvelCSP") found = p.module == "OrvelCSP.dll" && p.type == 1;
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(Tool("register-provider X m.dll --type 0").status, 2);
  EXPECT_EQ(Tool("register-provider X").status, 2);
  EXPECT_EQ(
      Tool(std::string("register-provider ") + Quote(platform::kSoftwareProviderName) + " m.dll")
          .status,
      1);
}

}  // namespace

// sign and decrypt with a software key imported from a PFX: the signature is
// OpenSSL's, byte for byte, big-endian; the cryptogram is OpenSSL's.
TEST_F(StoreCommands, SignAndDecryptWithTheKeyOfACertificate) {
  ASSERT_EQ(Tool("import-pfx --password secreto " + Quote(WritePfx("uno.pfx", "Firma"))).status, 0);
  // The thumbprint of the imported certificate, from the listing.
  ToolRun listing = Tool("list-store");
  const std::size_t at = listing.out.find("Thumbprint: ");
  ASSERT_NE(at, std::string::npos);
  const std::string thumbprint = listing.out.substr(at + 12, 40);

  const testpki::Bytes data = {'d', 'o', 'c', 'u', 'm', 'e', 'n', 't', 'o'};
  const auto in = m_dir.Path() / "in.bin";
  const auto out = m_dir.Path() / "out.bin";
  auto write = [](const std::filesystem::path& path, const testpki::Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  };
  auto read = [](const std::filesystem::path& path) {
    const std::string text = Read(path);
    return testpki::Bytes(text.begin(), text.end());
  };
  write(in, data);
  const std::string files = " " + Quote(in.string()) + " " + Quote(out.string());
  for (const auto& [option, digest] :
       {std::pair{"", EVP_sha256()}, std::pair{" --hash sha1", EVP_sha1()}}) {
    ToolRun sign = Tool("sign --thumbprint " + thumbprint + option + files);
    ASSERT_EQ(sign.status, 0) << sign.err;
    EXPECT_EQ(read(out), testpki::OpenSslSign(testpki::Key(1024, 0), digest, data)) << option;
  }

  const testpki::Bytes secret = {'c', 'l', 'a', 'v', 'e'};
  write(in, testpki::OpenSslEncrypt(testpki::Key(1024, 0), secret));
  ToolRun decrypt = Tool("decrypt --thumbprint " + thumbprint + files);
  ASSERT_EQ(decrypt.status, 0) << decrypt.err;
  EXPECT_EQ(read(out), secret);

  // Another key's cryptogram, an unknown thumbprint, bad arguments.
  write(in, testpki::OpenSslEncrypt(testpki::Key(1024, 1), secret));
  decrypt = Tool("decrypt --thumbprint " + thumbprint + files);
  EXPECT_EQ(decrypt.status, 1);
  EXPECT_NE(decrypt.err.find("not a cryptogram for this key"), std::string::npos) << decrypt.err;
  ToolRun missing = Tool("sign --thumbprint " + std::string(40, '0') + files);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no certificate with that thumbprint"), std::string::npos);
  EXPECT_EQ(Tool("sign --thumbprint 12" + files).status, 2);
  EXPECT_EQ(Tool("sign --thumbprint " + thumbprint + " --hash md4" + files).status, 2);
  EXPECT_EQ(Tool("decrypt --thumbprint " + thumbprint + " " + Quote(in.string())).status, 2);
}
