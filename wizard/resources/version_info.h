// The program's version information: file and product version 1.0.0.6,
// Spanish (0x0C0A) with the Unicode code page (0x04B0). The same texts are
// kept in the program file itself, in its section ".orvel.version"
// (readelf -p .orvel.version OrvelImportCertificate).
#pragma once

#include "platform/win32.h"

#define ORVEL_WIZARD_FILE_VERSION "1, 0, 0, 6"
#define ORVEL_WIZARD_PRODUCT_VERSION "1, 0, 0, 6"
#define ORVEL_WIZARD_FILE_DESCRIPTION "Aplicación MFC OrvelImportCertificate"
#define ORVEL_WIZARD_PRODUCT_NAME "Aplicación OrvelImportCertificate"
#define ORVEL_WIZARD_INTERNAL_NAME "OrvelImportCertificate"
#define ORVEL_WIZARD_ORIGINAL_FILENAME "OrvelImportCertificate.EXE"
#define ORVEL_WIZARD_COMMENTS "Importación de certificados "

struct ProgramVersionInfo {
  WORD fileVersion[4];
  WORD productVersion[4];
  WORD language;  // 0x0C0A
  WORD codePage;  // 0x04B0
  const char* fileDescription;
  const char* productName;
  const char* internalName;
  const char* originalFilename;
  const char* comments;
};

extern const ProgramVersionInfo kProgramVersion;

// The version block as it stands in the program file: "key=value" lines.
const char* ProgramVersionBlock();
