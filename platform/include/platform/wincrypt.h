// Certificate and cryptographic services of the platform stand-in: certificate
// contexts and their properties, memory certificate stores, cryptographic
// providers (a built-in software RSA provider and loadable provider modules),
// private-key acquisition for certificates and PKCS#12 (PFX) import.
// Names, structures, constants and error codes are those of the Windows
// platform; the implementation sits on OpenSSL 3.
#pragma once

#include "platform/win32.h"

// ---------------------------------------------------------------------------
// Basic types

typedef unsigned int ALG_ID;
typedef void* HCERTSTORE;
typedef ULONG_PTR HCRYPTPROV_OR_NCRYPT_KEY_HANDLE;

typedef struct _CRYPTOAPI_BLOB {
  DWORD cbData;
  BYTE* pbData;
} CRYPT_INTEGER_BLOB, *PCRYPT_INTEGER_BLOB, CRYPT_DATA_BLOB, *PCRYPT_DATA_BLOB, CRYPT_OBJID_BLOB,
    *PCRYPT_OBJID_BLOB, CERT_NAME_BLOB, *PCERT_NAME_BLOB, CRYPT_HASH_BLOB, *PCRYPT_HASH_BLOB;

typedef struct _CRYPT_BIT_BLOB {
  DWORD cbData;
  BYTE* pbData;
  DWORD cUnusedBits;
} CRYPT_BIT_BLOB, *PCRYPT_BIT_BLOB;

typedef struct _CRYPT_ALGORITHM_IDENTIFIER {
  LPSTR pszObjId;               // dotted OID, e.g. "1.2.840.113549.1.1.5"
  CRYPT_OBJID_BLOB Parameters;  // DER of the parameters, empty when absent
} CRYPT_ALGORITHM_IDENTIFIER, *PCRYPT_ALGORITHM_IDENTIFIER;

typedef struct _CERT_PUBLIC_KEY_INFO {
  CRYPT_ALGORITHM_IDENTIFIER Algorithm;
  CRYPT_BIT_BLOB PublicKey;  // for RSA: the DER RSAPublicKey
} CERT_PUBLIC_KEY_INFO, *PCERT_PUBLIC_KEY_INFO;

typedef struct _CERT_EXTENSION {
  LPSTR pszObjId;
  BOOL fCritical;
  CRYPT_OBJID_BLOB Value;  // DER of the extension value
} CERT_EXTENSION, *PCERT_EXTENSION;

typedef struct _CERT_INFO {
  DWORD dwVersion;                  // CERT_V1, CERT_V2, CERT_V3
  CRYPT_INTEGER_BLOB SerialNumber;  // little-endian, as the platform keeps it
  CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
  CERT_NAME_BLOB Issuer;  // DER Name
  FILETIME NotBefore;
  FILETIME NotAfter;
  CERT_NAME_BLOB Subject;  // DER Name
  CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
  CRYPT_BIT_BLOB IssuerUniqueId;
  CRYPT_BIT_BLOB SubjectUniqueId;
  DWORD cExtension;
  PCERT_EXTENSION rgExtension;
} CERT_INFO, *PCERT_INFO;

typedef struct _CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  PCERT_INFO pCertInfo;
  HCERTSTORE hCertStore;
} CERT_CONTEXT, *PCERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;

typedef struct _CRYPT_KEY_PROV_PARAM {
  DWORD dwParam;
  BYTE* pbData;
  DWORD cbData;
  DWORD dwFlags;
} CRYPT_KEY_PROV_PARAM, *PCRYPT_KEY_PROV_PARAM;

typedef struct _CRYPT_KEY_PROV_INFO {
  LPWSTR pwszContainerName;
  LPWSTR pwszProvName;
  DWORD dwProvType;
  DWORD dwFlags;
  DWORD cProvParam;
  PCRYPT_KEY_PROV_PARAM rgProvParam;
  DWORD dwKeySpec;
} CRYPT_KEY_PROV_INFO, *PCRYPT_KEY_PROV_INFO;

// Key blob headers (the layout of PRIVATEKEYBLOB / PUBLICKEYBLOB).
typedef struct _PUBLICKEYSTRUC {
  BYTE bType;
  BYTE bVersion;
  WORD reserved;
  ALG_ID aiKeyAlg;
} BLOBHEADER, PUBLICKEYSTRUC;

typedef struct _RSAPUBKEY {
  uint32_t magic;  // "RSA1" public, "RSA2" private
  uint32_t bitlen;
  uint32_t pubexp;
} RSAPUBKEY;

// ---------------------------------------------------------------------------
// Encodings

#define X509_ASN_ENCODING 0x00000001UL
#define PKCS_7_ASN_ENCODING 0x00010000UL
#define CERT_ENCODING_TYPE_MASK 0x0000FFFFUL
#define GET_CERT_ENCODING_TYPE(X) ((X)&CERT_ENCODING_TYPE_MASK)

#define CERT_V1 0UL
#define CERT_V2 1UL
#define CERT_V3 2UL

// Key usage bits of the first byte of the key-usage bit string.
#define CERT_DIGITAL_SIGNATURE_KEY_USAGE 0x80
#define CERT_NON_REPUDIATION_KEY_USAGE 0x40
#define CERT_KEY_ENCIPHERMENT_KEY_USAGE 0x20
#define CERT_DATA_ENCIPHERMENT_KEY_USAGE 0x10
#define CERT_KEY_AGREEMENT_KEY_USAGE 0x08
#define CERT_KEY_CERT_SIGN_KEY_USAGE 0x04
#define CERT_CRL_SIGN_KEY_USAGE 0x02
#define CERT_ENCIPHER_ONLY_KEY_USAGE 0x01

#define szOID_RSA_RSA "1.2.840.113549.1.1.1"
#define szOID_RSA_MD5RSA "1.2.840.113549.1.1.4"
#define szOID_RSA_SHA1RSA "1.2.840.113549.1.1.5"
#define szOID_RSA_SHA256RSA "1.2.840.113549.1.1.11"
#define szOID_KEY_USAGE "2.5.29.15"

// ---------------------------------------------------------------------------
// Certificate properties

#define CERT_KEY_PROV_HANDLE_PROP_ID 1UL
#define CERT_KEY_PROV_INFO_PROP_ID 2UL
#define CERT_SHA1_HASH_PROP_ID 3UL
#define CERT_HASH_PROP_ID CERT_SHA1_HASH_PROP_ID
#define CERT_KEY_CONTEXT_PROP_ID 5UL
#define CERT_FRIENDLY_NAME_PROP_ID 11UL

// ---------------------------------------------------------------------------
// Stores

#define CERT_STORE_PROV_MEMORY ((LPCSTR)(ULONG_PTR)2)
#define sz_CERT_STORE_PROV_MEMORY "Memory"

#define CERT_STORE_ADD_NEW 1UL
#define CERT_STORE_ADD_USE_EXISTING 2UL
#define CERT_STORE_ADD_REPLACE_EXISTING 3UL
#define CERT_STORE_ADD_ALWAYS 4UL
#define CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES 5UL

#define CERT_STORE_CREATE_NEW_FLAG 0x00002000UL
#define CERT_CLOSE_STORE_FORCE_FLAG 0x00000001UL
#define CERT_CLOSE_STORE_CHECK_FLAG 0x00000002UL

// Predefined store providers besides the memory store. A system store
// ("MY", ...) is the collection of its physical stores: the registered ones
// and the user's own persistent store of that name; the system registry
// store is that persistent store alone. Any other provider name is looked up
// as an open-store function (CRYPT_OID_OPEN_STORE_PROV_FUNC).
#define CERT_STORE_PROV_SYSTEM_A ((LPCSTR)(ULONG_PTR)9)
#define CERT_STORE_PROV_SYSTEM_W ((LPCSTR)(ULONG_PTR)10)
#define CERT_STORE_PROV_SYSTEM CERT_STORE_PROV_SYSTEM_W
#define CERT_STORE_PROV_SYSTEM_REGISTRY_A ((LPCSTR)(ULONG_PTR)12)
#define CERT_STORE_PROV_SYSTEM_REGISTRY_W ((LPCSTR)(ULONG_PTR)13)
#define CERT_STORE_PROV_SYSTEM_REGISTRY CERT_STORE_PROV_SYSTEM_REGISTRY_W
#define sz_CERT_STORE_PROV_SYSTEM_W "System"
#define sz_CERT_STORE_PROV_SYSTEM sz_CERT_STORE_PROV_SYSTEM_W
#define sz_CERT_STORE_PROV_SYSTEM_REGISTRY_W "SystemRegistry"
#define sz_CERT_STORE_PROV_SYSTEM_REGISTRY sz_CERT_STORE_PROV_SYSTEM_REGISTRY_W

// CertOpenStore flags.
#define CERT_STORE_NO_CRYPT_RELEASE_FLAG 0x00000001UL
#define CERT_STORE_DELETE_FLAG 0x00000010UL
#define CERT_STORE_MAXIMUM_ALLOWED_FLAG 0x00001000UL
#define CERT_STORE_OPEN_EXISTING_FLAG 0x00004000UL
#define CERT_STORE_READONLY_FLAG 0x00008000UL

// System store locations (bits 16 to 23 of the flags). Only the current
// user's stores exist on this platform.
#define CERT_SYSTEM_STORE_LOCATION_MASK 0x00FF0000UL
#define CERT_SYSTEM_STORE_LOCATION_SHIFT 16
#define CERT_SYSTEM_STORE_CURRENT_USER 0x00010000UL
#define CERT_SYSTEM_STORE_LOCAL_MACHINE 0x00020000UL
#define CERT_SYSTEM_STORE_RELOCATE_FLAG 0x80000000UL

// CertControlStore
#define CERT_STORE_CTRL_RESYNC 1UL
#define CERT_STORE_CTRL_NOTIFY_CHANGE 2UL
#define CERT_STORE_CTRL_COMMIT 3UL
#define CERT_STORE_CTRL_AUTO_RESYNC 4UL
#define CERT_STORE_CTRL_CANCEL_NOTIFY 5UL
#define CERT_STORE_CTRL_INHIBIT_DUPLICATE_HANDLE_FLAG 0x1UL

// ---------------------------------------------------------------------------
// Store providers: the open function of a provider fills a
// CERT_STORE_PROV_INFO with its callback table, indexed as follows.

typedef void* HCERTSTOREPROV;
typedef void* HCRYPTOIDFUNCSET;
typedef void* HCRYPTOIDFUNCADDR;
typedef ULONG_PTR HCRYPTPROV_LEGACY;

#define CERT_STORE_PROV_CLOSE_FUNC 0
#define CERT_STORE_PROV_READ_CERT_FUNC 1
#define CERT_STORE_PROV_WRITE_CERT_FUNC 2
#define CERT_STORE_PROV_DELETE_CERT_FUNC 3
#define CERT_STORE_PROV_SET_CERT_PROPERTY_FUNC 4
#define CERT_STORE_PROV_READ_CRL_FUNC 5
#define CERT_STORE_PROV_WRITE_CRL_FUNC 6
#define CERT_STORE_PROV_DELETE_CRL_FUNC 7
#define CERT_STORE_PROV_SET_CRL_PROPERTY_FUNC 8
#define CERT_STORE_PROV_READ_CTL_FUNC 9
#define CERT_STORE_PROV_WRITE_CTL_FUNC 10
#define CERT_STORE_PROV_DELETE_CTL_FUNC 11
#define CERT_STORE_PROV_SET_CTL_PROPERTY_FUNC 12
#define CERT_STORE_PROV_CONTROL_FUNC 13
// Number of entries of a table from the close function to the control
// function (the table a provider of certificates, CRLs and CTLs fills in).
#define CERT_STORE_PROV_FUNC_COUNT 14

// dwFlags of the write callback: the certificate is being added; the upper
// 16 bits carry the add disposition (CERT_STORE_ADD_*).
#define CERT_STORE_PROV_WRITE_ADD_FLAG 0x1UL

#define CERT_STORE_PROV_EXTERNAL_FLAG 0x1UL
#define CERT_STORE_PROV_DELETED_FLAG 0x2UL
#define CERT_STORE_PROV_NO_PERSIST_FLAG 0x4UL

typedef struct _CERT_STORE_PROV_INFO {
  DWORD cbSize;
  DWORD cStoreProvFunc;
  void** rgpvStoreProvFunc;
  HCERTSTOREPROV hStoreProv;
  DWORD dwStoreProvFlags;
  HCRYPTOIDFUNCADDR hStoreProvFuncAddr2;
} CERT_STORE_PROV_INFO, *PCERT_STORE_PROV_INFO;

typedef BOOL (*PFN_CERT_DLL_OPEN_STORE_PROV_FUNC)(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                                                  HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags,
                                                  const void* pvPara, HCERTSTORE hCertStore,
                                                  PCERT_STORE_PROV_INFO pStoreProvInfo);
typedef void (*PFN_CERT_STORE_PROV_CLOSE)(HCERTSTOREPROV hStoreProv, DWORD dwFlags);
typedef BOOL (*PFN_CERT_STORE_PROV_WRITE_CERT)(HCERTSTOREPROV hStoreProv,
                                               PCCERT_CONTEXT pCertContext, DWORD dwFlags);
typedef BOOL (*PFN_CERT_STORE_PROV_SET_CERT_PROPERTY)(HCERTSTOREPROV hStoreProv,
                                                      PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                      DWORD dwFlags, const void* pvData);
typedef BOOL (*PFN_CERT_STORE_PROV_CONTROL)(HCERTSTOREPROV hStoreProv, DWORD dwFlags,
                                            DWORD dwCtrlType, void const* pvCtrlPara);

// ---------------------------------------------------------------------------
// OID functions: functions of a function set (such as the open-store
// functions) found by OID, either installed by the running process or
// registered with a module that is loaded when they are needed.

typedef struct _CRYPT_OID_FUNC_ENTRY {
  LPCSTR pszOID;
  void* pvFuncAddr;
} CRYPT_OID_FUNC_ENTRY, *PCRYPT_OID_FUNC_ENTRY;

#define CRYPT_OID_OPEN_STORE_PROV_FUNC "CertDllOpenStoreProv"
#define CRYPT_INSTALL_OID_FUNC_BEFORE_FLAG 1UL
#define CRYPT_GET_INSTALLED_OID_FUNC_FLAG 0x1UL

// ---------------------------------------------------------------------------
// Physical stores of a system store

typedef struct _CERT_PHYSICAL_STORE_INFO {
  DWORD cbSize;
  LPSTR pszOpenStoreProvider;
  DWORD dwOpenEncodingType;
  DWORD dwOpenFlags;
  CRYPT_DATA_BLOB OpenParameters;
  DWORD dwFlags;
  DWORD dwPriority;
} CERT_PHYSICAL_STORE_INFO, *PCERT_PHYSICAL_STORE_INFO;

#define CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG 0x1UL
#define CERT_PHYSICAL_STORE_OPEN_DISABLE_FLAG 0x2UL
#define CERT_PHYSICAL_STORE_REMOTE_OPEN_DISABLE_FLAG 0x4UL
#define CERT_PHYSICAL_STORE_INSERT_COMPUTER_NAME_ENABLE_FLAG 0x8UL

// ---------------------------------------------------------------------------
// Names (CertNameToStrA)

#define CERT_SIMPLE_NAME_STR 1UL
#define CERT_OID_NAME_STR 2UL
#define CERT_X500_NAME_STR 3UL
#define CERT_NAME_STR_SEMICOLON_FLAG 0x40000000UL
#define CERT_NAME_STR_NO_PLUS_FLAG 0x20000000UL
#define CERT_NAME_STR_NO_QUOTING_FLAG 0x10000000UL
#define CERT_NAME_STR_CRLF_FLAG 0x08000000UL
#define CERT_NAME_STR_COMMA_FLAG 0x04000000UL
#define CERT_NAME_STR_REVERSE_FLAG 0x02000000UL

// ---------------------------------------------------------------------------
// Providers, keys and hashes

#define PROV_RSA_FULL 1UL

#define CRYPT_VERIFYCONTEXT 0xF0000000UL
#define CRYPT_NEWKEYSET 0x00000008UL
#define CRYPT_DELETEKEYSET 0x00000010UL
#define CRYPT_MACHINE_KEYSET 0x00000020UL
#define CRYPT_SILENT 0x00000040UL

#define AT_KEYEXCHANGE 1UL
#define AT_SIGNATURE 2UL

#define ALG_CLASS_SIGNATURE (1U << 13)
#define ALG_CLASS_HASH (4U << 13)
#define ALG_CLASS_KEY_EXCHANGE (5U << 13)
#define CALG_MD5 0x00008003U
#define CALG_SHA1 0x00008004U
#define CALG_SHA_256 0x0000800CU
// The 36 bytes of an SSL 3 client authentication: MD5 then SHA-1 of the
// handshake, signed without a DigestInfo.
#define CALG_SSL3_SHAMD5 0x00008008U
#define CALG_RSA_SIGN 0x00002400U
#define CALG_RSA_KEYX 0x0000A400U

#define PUBLICKEYBLOB 0x6UL
#define PRIVATEKEYBLOB 0x7UL
#define CUR_BLOB_VERSION 2

// CryptGetProvParam / CryptSetProvParam
#define PP_NAME 4UL
#define PP_CONTAINER 6UL
#define PP_UNIQUE_CONTAINER 36UL
#define PP_KEYEXCHANGE_PIN 32UL
#define PP_SIGNATURE_PIN 33UL
#define PP_ADMIN_PIN 31UL

// CryptSetKeyParam / CryptGetKeyParam
#define KP_ALGID 7UL
#define KP_BLOCKLEN 8UL
#define KP_KEYLEN 9UL
#define KP_CERTIFICATE 26UL

// CryptSignHash / CryptVerifySignature: the hash value alone, no DigestInfo.
#define CRYPT_NOHASHOID 0x00000001UL

// CryptGetHashParam
#define HP_ALGID 0x0001UL
#define HP_HASHVAL 0x0002UL
#define HP_HASHSIZE 0x0004UL

// Key generation / import flags
#define CRYPT_EXPORTABLE 0x00000001UL
#define CRYPT_USER_PROTECTED 0x00000002UL
#define CRYPT_USER_KEYSET 0x00001000UL

// CryptAcquireCertificatePrivateKey
#define CRYPT_ACQUIRE_CACHE_FLAG 0x00000001UL
#define CRYPT_ACQUIRE_USE_PROV_INFO_FLAG 0x00000002UL
#define CRYPT_ACQUIRE_COMPARE_KEY_FLAG 0x00000004UL
#define CRYPT_ACQUIRE_SILENT_FLAG 0x00000040UL

// ---------------------------------------------------------------------------
// Error codes (HRESULT values, as GetLastError reports them)

#define NTE_BAD_UID ((DWORD)0x80090001UL)
#define NTE_BAD_HASH ((DWORD)0x80090002UL)
#define NTE_BAD_KEY ((DWORD)0x80090003UL)
#define NTE_BAD_LEN ((DWORD)0x80090004UL)
#define NTE_BAD_DATA ((DWORD)0x80090005UL)
#define NTE_BAD_SIGNATURE ((DWORD)0x80090006UL)
#define NTE_BAD_ALGID ((DWORD)0x80090008UL)
#define NTE_BAD_FLAGS ((DWORD)0x80090009UL)
#define NTE_BAD_TYPE ((DWORD)0x8009000AUL)
#define NTE_BAD_KEY_STATE ((DWORD)0x8009000BUL)
#define NTE_BAD_HASH_STATE ((DWORD)0x8009000CUL)
#define NTE_NO_KEY ((DWORD)0x8009000DUL)
#define NTE_NO_MEMORY ((DWORD)0x8009000EUL)
#define NTE_EXISTS ((DWORD)0x8009000FUL)
#define NTE_BAD_PROV_TYPE ((DWORD)0x80090014UL)
#define NTE_BAD_KEYSET ((DWORD)0x80090016UL)
#define NTE_KEYSET_NOT_DEF ((DWORD)0x80090019UL)
#define NTE_PROV_TYPE_NO_MATCH ((DWORD)0x8009001BUL)
#define NTE_PROVIDER_DLL_FAIL ((DWORD)0x8009001DUL)
#define NTE_PROV_DLL_NOT_FOUND ((DWORD)0x8009001EUL)
#define NTE_BAD_KEYSET_PARAM ((DWORD)0x8009001FUL)
#define NTE_FAIL ((DWORD)0x80090020UL)
#define NTE_SILENT_CONTEXT ((DWORD)0x80090022UL)
#define CRYPT_E_BAD_ENCODE ((DWORD)0x80092002UL)
#define CRYPT_E_NOT_FOUND ((DWORD)0x80092004UL)
#define CRYPT_E_EXISTS ((DWORD)0x80092005UL)
#define CRYPT_E_NO_KEY_PROPERTY ((DWORD)0x8009200BUL)
#define CRYPT_E_PENDING_CLOSE ((DWORD)0x8009200FUL)
#define CRYPT_E_ASN1_BADTAG ((DWORD)0x8009310BUL)

extern "C" {

// ---------------------------------------------------------------------------
// Certificate contexts

// Decodes a DER certificate. The whole input must be one certificate.
PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                            DWORD cbCertEncoded);
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext);
// Releases one reference; null is accepted. An unknown (freed) context fails
// with ERROR_INVALID_HANDLE.
BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);

// Key length in bits; 0 when the key cannot be parsed.
DWORD CertGetPublicKeyLength(DWORD dwCertEncodingType, PCERT_PUBLIC_KEY_INFO pPublicKey);
// Copies the first cbKeyUsage bytes of the key-usage bit string; FALSE (and
// zeroed bytes) when the certificate has no key-usage extension.
BOOL CertGetIntendedKeyUsage(DWORD dwCertEncodingType, PCERT_INFO pCertInfo, BYTE* pbKeyUsage,
                             DWORD cbKeyUsage);

// With pvData null: *pcbData receives the size. CERT_KEY_PROV_INFO_PROP_ID
// yields a self-contained CRYPT_KEY_PROV_INFO (strings inside the buffer).
BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData,
                                       DWORD* pcbData);
// pvData: a CRYPT_KEY_PROV_INFO* for CERT_KEY_PROV_INFO_PROP_ID, a
// CRYPT_DATA_BLOB* for other properties, null to remove the property.
BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, DWORD dwFlags,
                                       const void* pvData);

// ---------------------------------------------------------------------------
// Certificate stores

HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType, HCRYPTPROV hCryptProv,
                         DWORD dwFlags, const void* pvPara);
BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);
BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                      DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext);
// Returns the certificate after pPrevCertContext (the first with null) and
// releases pPrevCertContext; null with CRYPT_E_NOT_FOUND after the last.
// A system store lists each certificate once, from the first of its
// physical stores that holds it; the context's hCertStore is then that
// physical store's.
PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext);

// Provider stores forward every control to the provider's control callback
// (ERROR_CALL_NOT_IMPLEMENTED when it has none). The persistent stores
// re-read their file on CERT_STORE_CTRL_RESYNC and accept COMMIT (they write
// at once). A system store forwards to each of its physical stores; it
// succeeds when at least one of them took the control and none failed.
BOOL CertControlStore(HCERTSTORE hCertStore, DWORD dwFlags, DWORD dwCtrlType,
                      void const* pvCtrlPara);

// ---------------------------------------------------------------------------
// Physical stores and OID functions. Registrations belong to the current
// user and live in the user's state directory.

// pvSystemStore: the system store's name (UTF-16). dwFlags: the location
// (CERT_SYSTEM_STORE_CURRENT_USER) and CERT_STORE_CREATE_NEW_FLAG, with which
// an existing registration of that name fails with ERROR_FILE_EXISTS
// (without it, the registration is replaced). cbSize is not checked.
BOOL CertRegisterPhysicalStore(const void* pvSystemStore, DWORD dwFlags, LPCWSTR pwszStoreName,
                               PCERT_PHYSICAL_STORE_INFO pStoreInfo, void* pvReserved);
// ERROR_FILE_NOT_FOUND when no such physical store is registered.
BOOL CertUnregisterPhysicalStore(const void* pvSystemStore, DWORD dwFlags, LPCWSTR pwszStoreName);

// Installs functions of a function set for this process. hModule: the
// module that holds them; its functions are withdrawn when the module's last
// FreeLibrary has run. Installing the same address again changes nothing.
BOOL CryptInstallOIDFunctionAddress(HMODULE hModule, DWORD dwEncodingType, LPCSTR pszFuncName,
                                    DWORD cFuncEntry, const CRYPT_OID_FUNC_ENTRY rgFuncEntry[],
                                    DWORD dwFlags);
// Records that a module provides the function of a set for an OID; the
// module is loaded by its name (see platform/module_loader.h) when the
// function is first needed. pszOverrideFuncName: the export's name (null:
// the set's name). Registering again replaces the registration.
BOOL CryptRegisterOIDFunction(DWORD dwEncodingType, LPCSTR pszFuncName, LPCSTR pszOID,
                              LPCWSTR pwszDll, LPCSTR pszOverrideFuncName);
// ERROR_FILE_NOT_FOUND when nothing is registered under that OID.
BOOL CryptUnregisterOIDFunction(DWORD dwEncodingType, LPCSTR pszFuncName, LPCSTR pszOID);

HCRYPTOIDFUNCSET CryptInitOIDFunctionSet(LPCSTR pszFuncName, DWORD dwFlags);
// Functions installed in the process come first (those installed by a module
// count while the module is loaded, and each look-up loads it once more);
// otherwise the registered module is loaded, which may install the
// function, and else its export of the registered name is taken. Entries
// made with encoding type 0 serve every encoding type. *phFuncAddr keeps the
// module loaded until CryptFreeOIDFunctionAddress. ERROR_FILE_NOT_FOUND when
// there is no such function; a module that cannot be loaded reports the
// loader's error.
BOOL CryptGetOIDFunctionAddress(HCRYPTOIDFUNCSET hFuncSet, DWORD dwEncodingType, LPCSTR pszOID,
                                DWORD dwFlags, void** ppvFuncAddr, HCRYPTOIDFUNCADDR* phFuncAddr);
// Frees the module a function address kept loaded (FreeLibrary).
BOOL CryptFreeOIDFunctionAddress(HCRYPTOIDFUNCADDR hFuncAddr, DWORD dwFlags);

// ---------------------------------------------------------------------------
// Names

// The text of an encoded name (a certificate's Subject or Issuer). With
// psz null or csz 0: the number of characters needed, terminator included.
// Otherwise writes at most csz characters, always terminated, and returns
// the number written with the terminator. CERT_X500_NAME_STR gives
// "CN=..., O=..., C=..." in the order of the encoding (reversed with
// CERT_NAME_STR_REVERSE_FLAG); 1 (a terminator alone) when the name cannot
// be decoded.
DWORD CertNameToStrA(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType, LPSTR psz,
                     DWORD csz);

// ---------------------------------------------------------------------------
// Cryptographic providers

BOOL CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                          DWORD dwProvType, DWORD dwFlags);
BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
BOOL CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags);
BOOL CryptSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey);
BOOL CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
                    BYTE* pbData, DWORD* pdwDataLen);
BOOL CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
BOOL CryptDestroyKey(HCRYPTKEY hKey);
BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                     HCRYPTHASH* phHash);
BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags);
BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags);
BOOL CryptDestroyHash(HCRYPTHASH hHash);
// HP_HASHVAL: a value hashed elsewhere, exactly the algorithm's size (36
// bytes for CALG_SSL3_SHAMD5); the hash then takes no more data.
BOOL CryptSetHashParam(HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);

// RSA PKCS#1 v1.5 with the key of dwKeySpec in the hash's key container: the
// DigestInfo of the hash value (the value alone for CALG_SSL3_SHAMD5 or with
// CRYPT_NOHASHOID). The signature comes out little-endian, as the platform's
// providers give it. szDescription is not used.
BOOL CryptSignHashA(HCRYPTHASH hHash, DWORD dwKeySpec, LPCSTR szDescription, DWORD dwFlags,
                    BYTE* pbSignature, DWORD* pdwSigLen);
// Checks a little-endian signature of the hash with a public key of the same
// provider; NTE_BAD_SIGNATURE when it does not match.
BOOL CryptVerifySignatureA(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen,
                           HCRYPTKEY hPubKey, LPCSTR szDescription, DWORD dwFlags);
// RSA PKCS#1 v1.5 decryption in place: pbData holds the cryptogram,
// little-endian and as long as the modulus, and receives the plaintext
// (*pdwDataLen its length). Only Final TRUE, no hash, flags 0; a cryptogram
// that does not decrypt gives NTE_BAD_DATA.
BOOL CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData,
                  DWORD* pdwDataLen);
// KP_KEYLEN (bits) and KP_ALGID (CALG_RSA_SIGN / CALG_RSA_KEYX), as DWORDs.
BOOL CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                      DWORD dwFlags);
// PUBLICKEYBLOB only, without a wrapping key.
BOOL CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                    DWORD dwFlags, HCRYPTKEY* phKey);

// Opens the provider named by the certificate's CERT_KEY_PROV_INFO_PROP_ID.
// With CRYPT_ACQUIRE_CACHE_FLAG the handle is kept with the certificate
// context (released when the context goes) and *pfCallerFreeProvOrNCryptKey
// is FALSE; without it the caller owns the handle (TRUE).
BOOL CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags, void* pvParameters,
                                       HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProvOrNCryptKey,
                                       DWORD* pdwKeySpec, BOOL* pfCallerFreeProvOrNCryptKey);

// ---------------------------------------------------------------------------
// PKCS#12

BOOL PFXIsPFXBlob(CRYPT_DATA_BLOB* pPFX);
BOOL PFXVerifyPassword(CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword, DWORD dwFlags);
// Every certificate of the file into a new memory store, in file order; each
// private key into a new key container of the current user. Wrong password:
// null with ERROR_INVALID_PASSWORD; malformed or unreasonable file: null with
// CRYPT_E_BAD_ENCODE.
HCERTSTORE PFXImportCertStore(CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword, DWORD dwFlags);

}  // extern "C"
