// The card computing with its keys: MANAGE SECURITY ENVIRONMENT and PERFORM
// SECURITY OPERATION (ISO 7816-8). The buffers hold digests and plaintext
// and are wiped after every operation.
#include <algorithm>

#include "card/crypto_card.h"
#include "common/non_copyable.h"
#include "common/secure_wipe.h"

namespace {

// Wipes the object's buffers when the operation's scope ends.
class CBufferWipe : private NonCopyable {
 public:
  CBufferWipe(std::span<BYTE> command, std::span<BYTE> response)
      : m_command(command), m_response(response) {}
  virtual ~CBufferWipe() {
    SecureWipe(m_command.data(), m_command.size());
    SecureWipe(m_response.data(), m_response.size());
  }

 private:
  std::span<BYTE> m_command;
  std::span<BYTE> m_response;
};

}  // namespace

LONG CCryptoCard::SetSecurityEnvironment(bool signatureRole, BYTE keyReference) {
  const BYTE keyReferenceObject[] = {kTagKeyReference, 0x01, keyReference};
  return SendCommand(kClaIso, kInsManageSecurityEnvironment, kMseSetForComputing,
                     signatureRole ? kMseSignatureTemplate : kMseDecipherTemplate,
                     {{keyReferenceObject}});
}

LONG CCryptoCard::ComputeSignature(std::span<const BYTE> digestInfo,
                                   std::span<BYTE, kModulusBytes> signature) {
  if (digestInfo.empty() || digestInfo.size() > kMaxSignatureInput) {
    return Refuse(SCARD_E_INVALID_PARAMETER);
  }
  const CBufferWipe wipe(m_command, m_response);
  // 61 80, and GET RESPONSE brings the signature.
  SendCommand(kClaIso, kInsPerformSecurityOperation, kPsoDigitalSignature, kPsoDataToBeSigned,
              {{digestInfo}});
  if (!StepSucceeded()) return m_lastResult;
  if (m_receiveLength != kModulusBytes + 2) return Refuse(SCARD_F_COMM_ERROR);
  std::copy_n(m_response.begin(), kModulusBytes, signature.begin());
  return m_lastResult;
}

LONG CCryptoCard::Decipher(std::span<const BYTE, kModulusBytes> cryptogram,
                           std::vector<BYTE>* plaintext) {
  if (plaintext == nullptr) return Refuse(SCARD_E_INVALID_PARAMETER);
  const CBufferWipe wipe(m_command, m_response);
  const BYTE paddingIndicator[] = {kPaddingIndicatorNone};
  // 61 xx, and GET RESPONSE brings the plaintext (an empty one comes with
  // 90 00 at once).
  SendCommand(kClaIso, kInsPerformSecurityOperation, kPsoPlainValue, kPsoPaddedCryptogram,
              {{paddingIndicator}, {cryptogram}});
  if (!StepSucceeded()) return m_lastResult;
  const std::size_t length = m_receiveLength - 2;
  if (length > kMaxSignatureInput) return Refuse(SCARD_F_COMM_ERROR);
  plaintext->assign(m_response.begin(), m_response.begin() + static_cast<std::ptrdiff_t>(length));
  return m_lastResult;
}
