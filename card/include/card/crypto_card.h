// CCryptoCard: a connected Orvel card and its command set. Every command goes
// out over PC/SC with T=0 from one fixed 256-byte command buffer and comes
// back into one 256-byte response buffer; the object keeps the last PC/SC
// result and the last status word for the caller to look at. A step counts
// as successful only when the result is 0 and the status word is 0x9000
// (StepSucceeded).
//
// One thread uses an object at a time. The object does not own the card
// handle: it never disconnects.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

#include "card/card_protocol.h"
#include "card/card_types.h"
#include "card/directory_walk.h"
#include "common/non_copyable.h"
#include "platform/winscard_ext.h"

class CCryptoCard : private NonCopyable {
 public:
  // What a SELECT asks of the card (its P2): the file control information,
  // fetched with GET RESPONSE, or only the status word (P2 0C), for callers
  // that do not look at the FCI.
  enum class Fci : BYTE { Returned = 0x00, NotReturned = 0x0C };

  // Reads the object directory of the card (defaults when it cannot), with
  // its selections made as directorySelection says.
  explicit CCryptoCard(SCARDHANDLE card, Fci directorySelection = Fci::Returned);
  virtual ~CCryptoCard();

  // --- Transport and ISO 7816-4 commands ---------------------------------

  // Sends the command buffer; fetches a pending answer (61xx) with one
  // GET RESPONSE. Sets the status word; returns the last result.
  LONG Transmit();

  // SELECT by DF name. Names longer than a command carries are refused
  // (SCARD_E_INVALID_PARAMETER, nothing sent).
  LONG SelectByName(const BYTE* name, BYTE length, Fci fci = Fci::Returned);
  LONG SelectByName(const char* name, Fci fci = Fci::Returned);
  // SELECT by file identifier, relative to the current DF.
  LONG SelectFile(WORD fileId, Fci fci = Fci::Returned);
  // The size of the EF just selected, from the file control information
  // that came with the SELECT; nullopt when the answer does not give it.
  std::optional<DWORD> SelectedFileSize() const;

  // Reads length bytes from offset in chunks of at most 128 into destination
  // (which may be null: the data is then only fetched). Stops at the first
  // chunk not answered 0x9000 or answered without data. *bytesRead, when
  // given, receives the number of bytes that arrived.
  LONG ReadBinary(WORD offset, WORD length, BYTE* destination, WORD* bytesRead = nullptr);
  // Writes length bytes at offset in chunks of at most 128; stops at the first
  // chunk not answered 0x9000.
  LONG UpdateBinary(WORD offset, WORD length, const BYTE* source);

  // VERIFY with the PIN characters as typed; the PIN is wiped from the
  // command buffer afterwards.
  LONG Verify(const char* pin);
  // Selects the cryptographic DF and verifies the PIN: 0 when the card
  // accepted it, SCARD_E_INVALID_PARAMETER when it refused it, another
  // nonzero code when the card could not be reached or its DFs not selected.
  LONG VerifyPin(const char* pin);

  // --- The card's own commands --------------------------------------------

  // The chip information, asked of the card once and kept. The out value
  // receives the kept bytes (zero when never read).
  LONG GetChipInfo(ChipInfo* chipInfo);
  // The card serial from a fresh GET CHIP INFO; the out value is written only
  // when the answer is complete.
  LONG GetSerialNumber(CardSerial* serial);
  LONG EraseKey(BYTE keyReference);

  // --- Computing with the card's keys (ISO 7816-8) -------------------------
  //
  // Each returns the PC/SC result and leaves the status word in the object;
  // StepSucceeded() tells success. Inputs out of range are refused with
  // SCARD_E_INVALID_PARAMETER and nothing is sent. The signature and
  // deciphering operations need the verified PIN and wipe the command and
  // response buffers afterwards.

  // MANAGE SECURITY ENVIRONMENT SET: chooses the key under keyReference for a
  // signature (signatureRole, B6) or for deciphering (B8).
  LONG SetSecurityEnvironment(bool signatureRole, BYTE keyReference);
  // PERFORM SECURITY OPERATION COMPUTE DIGITAL SIGNATURE over 1 to 117 bytes
  // (a DigestInfo); the 128-byte signature, big-endian, into signature.
  LONG ComputeSignature(std::span<const BYTE> digestInfo, std::span<BYTE, kModulusBytes> signature);
  // PERFORM SECURITY OPERATION DECIPHER of a 128-byte big-endian cryptogram;
  // the plaintext (padding removed by the card) into *plaintext.
  LONG Decipher(std::span<const BYTE, kModulusBytes> cryptogram, std::vector<BYTE>* plaintext);

  // The longest DigestInfo a signature takes: the modulus less the PKCS#1
  // v1.5 type 1 padding (00 01, eight FF at least, 00).
  static constexpr std::size_t kMaxSignatureInput = kModulusBytes - 11;

  // --- PKCS#15 file system ------------------------------------------------

  // Walks the records of the selected directory file from offset 0 (see
  // WalkOptions for how it reads). *endOffset receives the offset of the end
  // marker or of the file's end.
  WalkEnd WalkDirectory(const RecordVisitor& visit, const WalkOptions& options = {},
                        DWORD* endOffset = nullptr);
  // Fills the directory file table from the object directory file.
  void ReadObjectDirectory(Fci selection = Fci::Returned);
  // Master file, then the PKCS#15 application, then fileId within it; each
  // step only when the previous one succeeded. fci applies to all three.
  LONG SelectApplication(WORD fileId, Fci fci = Fci::Returned);
  // How a key reference scan ended.
  struct KeyScanOutcome {
    // The PrKDF, the PuKDF and the CDF were each walked to their ends (a
    // directory file filled to its last byte counts as ended). Only then
    // does a reference the map leaves free belong to no key on the card.
    bool readToEnd = false;
    // The PrKDF and the PuKDF each have room for one more key record after
    // their last record; true when a file's size could not be told.
    bool keyRecordsFit = true;
  };
  // Fills the map from the key and certificate directories. 0 without a map,
  // otherwise 1, also when the card failed part-way (the map then holds what
  // was found before; *outcome, when given, tells whether that happened).
  // A directory file full to its end ends its walk and the scan goes on with
  // the next directory.
  int ScanKeyReferences(KeyReferenceMap* map, KeyScanOutcome* outcome = nullptr);
  // The content of the private-key record whose identifier element (tag,
  // length, bytes) equals identifierElement; nullopt when none matches or the
  // card fails.
  std::optional<std::vector<BYTE>> FindPrivateKeyById(std::span<const BYTE> identifierElement);

  // --- Key installation ---------------------------------------------------

  // WRITE KEY PUBLIC PART, modulus then exponent, under keyReference in the
  // signature role (P1 80) or the exchange role (P1 40). The modulus is
  // little-endian as the platform keeps it; the three low bytes of the
  // exponent are sent least significant first. The command buffer is wiped
  // afterwards. True when both commands were answered 0x9000.
  bool WritePublicKey(bool signatureRole, BYTE keyReference,
                      std::span<const BYTE, kModulusBytes> modulus, DWORD exponent);
  // WRITE KEY PRIVATE PART for the five CRT parts (little-endian), in the
  // order prime1, prime2, coefficient, exponent1, exponent2; stops at the
  // first refusal. The command buffer is wiped afterwards. True when all
  // five were answered 0x9000.
  bool WritePrivateKey(bool signatureRole, BYTE keyReference,
                       std::span<const BYTE, kPrimeBytes> prime1,
                       std::span<const BYTE, kPrimeBytes> prime2,
                       std::span<const BYTE, kPrimeBytes> coefficient,
                       std::span<const BYTE, kPrimeBytes> exponent1,
                       std::span<const BYTE, kPrimeBytes> exponent2);
  // Appends the key's records: the public-key record to the PuKDF, then the
  // private-key record to the PrKDF (the record through which the key is
  // found, written last). True when both records were written. On failure
  // the status word is not 0x9000, and a public-key record already appended
  // is taken back, so the reference does not stay marked for a key whose
  // private record is missing.
  bool AddKeyDirectoryEntries(BYTE keyReference,
                              std::span<const BYTE, kKeyIdentifierBytes> identifier, WORD roleWord);
  // Takes back the key record naming keyReference that ends the PuKDF, and
  // the one that ends the PrKDF: the records of an installation that could
  // not be completed, for a reference that was free when it began. Zeros
  // over such a record end its directory before it again.
  void TakeBackKeyRecords(BYTE keyReference);

  // --- Certificates -------------------------------------------------------

  // Processes the certificate record at *cursor in the CDF and moves the
  // cursor past it. 0 ends the enumeration (no further record, a malformed
  // record, a certificate larger than *certificateLength or one that does
  // not decompress); 1 means a record was processed. After 1 the
  // certificate and *certificateLength were written only when the
  // certificate file was read and expanded. containerName receives the name
  // of the key container of the certificate's private key and *usage the
  // key's usage word; an empty name and 0 when no key was found or the name
  // would not fit.
  int ReadCertificateEntry(DWORD* cursor, BYTE* certificate, DWORD* certificateLength,
                           std::span<char> containerName, WORD* usage);

  // --- State --------------------------------------------------------------

  BYTE Sw1() const { return m_sw1; }
  BYTE Sw2() const { return m_sw2; }
  WORD Sw() const { return m_sw; }
  LONG LastResult() const { return m_lastResult; }
  bool StepSucceeded() const { return m_lastResult == SCARD_S_SUCCESS && m_sw == kSwSuccess; }
  SCARDHANDLE CardHandle() const { return m_card; }
  const DirectoryFileTable& DirectoryFiles() const { return m_directoryFiles; }
  std::span<const BYTE> CommandBuffer() const { return m_command; }

  // Command buffer capacity and the data a command can carry after its
  // five header bytes.
  static constexpr std::size_t kBufferSize = 256;
  static constexpr std::size_t kMaxCommandData = kBufferSize - 5;
  // Largest chunk of READ BINARY and UPDATE BINARY.
  static constexpr WORD kMaxChunk = 0x80;
  // Offsets of READ and UPDATE BINARY stay below this: a P1 with its high bit
  // set would address a file by short identifier instead.
  static constexpr DWORD kOffsetLimit = 0x8000;

 private:
  // The first bytes of a DER element in the selected file, from one 4-byte
  // READ BINARY.
  struct ElementHead {
    DWORD offset = 0;
    std::array<BYTE, 4> bytes{};
    WORD fetched = 0;
    BYTE Tag() const { return bytes[0]; }
    std::span<const BYTE> Fetched() const { return {bytes.data(), fetched}; }
  };
  // The selected file read ahead by a walk.
  class FileReadAhead;
  // A DER element of the selected file, found from its head.
  struct FileElement {
    ElementHead head;
    DWORD content = 0;  // where its content begins
    DWORD length = 0;   // of its content
    BYTE Tag() const { return head.Tag(); }
    DWORD End() const { return content + length; }
  };

  // A piece of a command's data, copied into the command buffer as it is or
  // in reverse order (little-endian key material goes out big-endian
  // without passing through another buffer).
  struct DataPart {
    std::span<const BYTE> bytes;
    bool reversed = false;
  };
  // The one way a command is built: CLA INS P1 P2 into the command buffer,
  // then P3 and the data parts one after another, or without data P3 = le;
  // the send length follows. False, with nothing built, when the data does
  // not fit a command.
  bool BuildCommand(BYTE cla, BYTE ins, BYTE p1, BYTE p2, std::initializer_list<DataPart> data,
                    BYTE le = 0);
  // Builds the command and sends it (Transmit); data that does not fit is
  // refused with SCARD_E_INVALID_PARAMETER, nothing sent.
  LONG SendCommand(BYTE cla, BYTE ins, BYTE p1, BYTE p2, std::initializer_list<DataPart> data,
                   BYTE le = 0);
  LONG Refuse(LONG code);
  // Whether the last command was a four-byte read refused as reaching past
  // the end of the file (6B00, or 6Cxx with fewer than four bytes left).
  bool RefusedAsPastEnd() const;
  // True when the element's first bytes were read (result 0, SW 0x9000).
  bool ReadElementHead(DWORD offset, ElementHead& head);
  // The element at offset, from one 4-byte READ BINARY of its head; nothing
  // is read when offset is not below limit. nullopt when the card failed or
  // sent nothing, the element has another tag than tag (when given), its
  // header cannot be followed, or it runs past limit (the end of the element
  // that holds it).
  std::optional<FileElement> ReadElement(DWORD offset, std::optional<BYTE> tag, DWORD limit);
  // The offset of the end marker of the selected directory file; nullopt
  // when the walk failed (the status word then tells why, or is set to a
  // refusal when the directory could not be followed).
  std::optional<DWORD> FindDirectoryEnd();
  // Appends record at the end of the selected directory file; the offset
  // it was written at, nullopt when it was not.
  std::optional<DWORD> AppendRecord(std::span<const BYTE> record);
  // Writes record at offset of the selected directory file; offset, or
  // nullopt when it was not written.
  std::optional<DWORD> WriteRecordAt(DWORD offset, std::span<const BYTE> record);
  // Reads the certificate file at path into certificate (capacity
  // *certificateLength): 1 when it was read and expanded, 0 when it cannot
  // be taken (too large, does not decompress), -1 when the file could not be
  // reached or read.
  int ReadCertificateFile(std::span<const WORD> path, BYTE* certificate, DWORD* certificateLength);
  // Writes the key-container name of the private key whose identifier
  // element opens certificateAttributes.
  void NameCertificateKey(std::span<const BYTE> certificateAttributes,
                          std::span<char> containerName, WORD* usage);
  // Notes the key reference of a key record in the map, with roleFlag.
  void ScanKeyRecord(const DirectoryRecord& record, BYTE roleFlag, KeyReferenceMap& map);
  // The common certificate attributes of the certificate record whose
  // content lies from content to end, read whole; they follow the common
  // object attributes. *element, when given, receives where they lie.
  std::optional<std::vector<BYTE>> ReadCertificateAttributes(DWORD content, DWORD end,
                                                             FileElement* element = nullptr);
  // Marks the key reference whose private key a certificate record names.
  void ScanCertificateRecord(const DirectoryRecord& record, KeyReferenceMap& map);

  BYTE m_sw1 = 0;
  BYTE m_sw2 = 0;
  WORD m_sw = 0;
  SCARDHANDLE m_card;
  LONG m_lastResult = SCARD_S_SUCCESS;
  std::array<BYTE, kBufferSize> m_command{};
  std::array<BYTE, kBufferSize> m_response{};
  DWORD m_sendLength = 0;
  DWORD m_receiveLength = 0;
  ChipInfo m_chipInfo{};
  DirectoryFileTable m_directoryFiles = kDefaultDirectoryFiles;
};
