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
} CRYPT_INTEGER_BLOB, *PCRYPT_INTEGER_BLOB, CRYPT_DATA_BLOB, *PCRYPT_DATA_BLOB,
    CRYPT_OBJID_BLOB, *PCRYPT_OBJID_BLOB, CERT_NAME_BLOB, *PCERT_NAME_BLOB,
    CRYPT_HASH_BLOB, *PCRYPT_HASH_BLOB;

typedef struct _CRYPT_BIT_BLOB {
  DWORD cbData;
  BYTE* pbData;
  DWORD cUnusedBits;
} CRYPT_BIT_BLOB, *PCRYPT_BIT_BLOB;

typedef struct _CRYPT_ALGORITHM_IDENTIFIER {
  LPSTR pszObjId;  // dotted OID, e.g. "1.2.840.113549.1.1.5"
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
  DWORD dwVersion;  // CERT_V1, CERT_V2, CERT_V3
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
#define GET_CERT_ENCODING_TYPE(X) ((X) & CERT_ENCODING_TYPE_MASK)

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
#define KP_CERTIFICATE 26UL

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
#define NTE_BAD_DATA ((DWORD)0x80090005UL)
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
PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext);

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
