// Reading a PKCS#12 (PFX) file: password check against the MAC, decryption
// of the safes and bags, and the certificates and keys they hold, in file
// order. Every key derivation is costed before it runs, so that a file with
// an absurd iteration count is refused at once instead of keeping the caller
// busy for minutes.
#pragma once

#include "openssl_types.h"
#include "platform/win32.h"
#include "secure_bytes.h"

#include <cstdint>
#include <vector>

namespace platform::crypt {

// Iterations allowed for one key derivation, and for all derivations of one
// call together. A million iterations cost about a second here (files seen
// in use declare 2048 to 100000); the password check, which may verify the
// MAC twice (an empty password is tried as none and as empty), stays under
// a second, and a whole import near it.
inline constexpr std::uint64_t kMaxPfxIterations = 300000;
inline constexpr std::uint64_t kMaxPfxTotalIterations = 1200000;

enum class PfxStatus { kOk, kMalformed, kBadPassword };

struct PfxCertificate {
  X509Ptr certificate;
  std::vector<unsigned char> localKeyId;
};

struct PfxKey {
  EvpPkeyPtr key;
  std::vector<unsigned char> localKeyId;
};

struct PfxContents {
  std::vector<PfxCertificate> certificates;
  std::vector<PfxKey> keys;
};

class PfxReader {
 public:
  // Null when the bytes are not exactly one PFX structure.
  static Pkcs12Ptr Parse(const unsigned char* data, std::size_t size);

  // Whether the key derivations the file declares where they can be read
  // without the password (its MAC, its encrypted contents) stay within the
  // bounds above; a file beyond them is not taken as a PFX at all, so that
  // checking a password never keeps the caller busy for long.
  static bool DeclaredWorkWithinBounds(PKCS12* pfx);

  // password: UTF-8 without terminator.
  PfxReader(PKCS12* pfx, const SecureText& password);

  // Checks the password against the MAC (a file without a MAC accepts any).
  PfxStatus VerifyPassword();
  // Verifies the password, then decrypts everything.
  PfxStatus Read(PfxContents& contents);

 private:
  bool Afford(const X509_ALGOR* algorithm);
  bool AffordMac();
  PfxStatus ReadBags(const STACK_OF(PKCS12_SAFEBAG) * bags, PfxContents& contents, int depth);
  PfxStatus Undecryptable() const {
    return m_passwordProven ? PfxStatus::kMalformed : PfxStatus::kBadPassword;
  }
  const char* Pass() const { return m_useNullPassword ? nullptr : m_password.data(); }
  int PassLength() const { return m_useNullPassword ? 0 : static_cast<int>(m_password.size()) - 1; }

  PKCS12* m_pfx;
  SecureText m_password;  // NUL-terminated copy
  bool m_useNullPassword = false;
  bool m_passwordProven = false;
  std::uint64_t m_spent = 0;
};

}  // namespace platform::crypt
