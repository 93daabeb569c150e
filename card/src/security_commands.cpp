// The card's security operations (ISO 7816-8): choosing a key with MANAGE
// SECURITY ENVIRONMENT and computing with it through PERFORM SECURITY
// OPERATION. Digests, cryptograms and plaintexts are wiped from the buffers
// after every command.
#include <algorithm>

#include "card/crypto_card.h"
#include "common/secure_wipe.h"

namespace {

constexpr BYTE kSetForComputation = 0x41;  // MSE SET, for computation and deciphering
constexpr BYTE kSignatureTemplate = 0xB6;
constexpr BYTE kDecipherTemplate = 0xB8;
constexpr BYTE kKeyReferenceTag = 0x84;
// P1 P2 of PERFORM SECURITY OPERATION.
constexpr BYTE kDigitalSignatureOut = 0x9E;
constexpr BYTE kDataToSign = 0x9A;
constexpr BYTE kPlainOut = 0x80;
constexpr BYTE kCryptogramIn = 0x86;
constexpr BYTE kPaddingIndicator = 0x00;
// Room for the eleven bytes of PKCS#1 v1.5 padding in a block.
constexpr std::size_t kMaxSignatureInput = kModulusBytes - 11;

}  // namespace

LONG CCryptoCard::SetSecurityEnvironment(bool signatureRole, BYTE keyReference) {
  SetHeader(0x00, 0x22, kSetForComputation, signatureRole ? kSignatureTemplate : kDecipherTemplate,
            3);
  m_command[5] = kKeyReferenceTag;
  m_command[6] = 0x01;
  m_command[7] = keyReference;
  m_sendLength = 8;
  return Transmit();
}

LONG CCryptoCard::ComputeSignature(std::span<const BYTE> digestInfo,
                                   std::span<BYTE, kModulusBytes> signature) {
  if (digestInfo.empty() || digestInfo.size() > kMaxSignatureInput) {
    return Refuse(SCARD_E_INVALID_PARAMETER);
  }
  SetHeader(0x00, 0x2A, kDigitalSignatureOut, kDataToSign, static_cast<BYTE>(digestInfo.size()));
  std::copy(digestInfo.begin(), digestInfo.end(), m_command.begin() + 5);
  m_sendLength = static_cast<DWORD>(5 + digestInfo.size());
  Transmit();
  if (StepSucceeded() && m_receiveLength != kModulusBytes + 2) Refuse(SCARD_F_COMM_ERROR);
  if (StepSucceeded()) std::copy_n(m_response.begin(), kModulusBytes, signature.begin());
  SecureWipe(m_command.data(), m_command.size());
  SecureWipe(m_response.data(), m_response.size());
  return m_lastResult;
}

LONG CCryptoCard::Decipher(std::span<const BYTE, kModulusBytes> cryptogram,
                           std::vector<BYTE>* plaintext) {
  if (plaintext == nullptr) return Refuse(SCARD_E_INVALID_PARAMETER);
  plaintext->clear();
  SetHeader(0x00, 0x2A, kPlainOut, kCryptogramIn, static_cast<BYTE>(kModulusBytes + 1));
  m_command[5] = kPaddingIndicator;
  std::copy(cryptogram.begin(), cryptogram.end(), m_command.begin() + 6);
  m_sendLength = static_cast<DWORD>(6 + kModulusBytes);
  Transmit();
  if (StepSucceeded()) {
    plaintext->assign(m_response.begin(), m_response.begin() + (m_receiveLength - 2));
  }
  SecureWipe(m_command.data(), m_command.size());
  SecureWipe(m_response.data(), m_response.size());
  return m_lastResult;
}
