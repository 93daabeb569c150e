// The program's version information: file and product version (the project's),
// Spanish (0x0C0A) with the Unicode code page (0x04B0). The same texts are
// kept in the program file itself, in its section ".orvel.version"
// (readelf -p .orvel.version OrvelImportCertificate).
#pragma once

#include "platform/win32.h"

// ORVEL_VERSION_MAJOR .. ORVEL_VERSION_TWEAK come from the project's version
// in the top-level CMakeLists.txt.
#define ORVEL_VERSION_TEXT_(a, b, c, d) #a ", " #b ", " #c ", " #d
#define ORVEL_VERSION_TEXT(a, b, c, d) ORVEL_VERSION_TEXT_(a, b, c, d)
#define ORVEL_WIZARD_FILE_VERSION                                                   \
  ORVEL_VERSION_TEXT(ORVEL_VERSION_MAJOR, ORVEL_VERSION_MINOR, ORVEL_VERSION_PATCH, \
                     ORVEL_VERSION_TWEAK)
#define ORVEL_WIZARD_PRODUCT_VERSION ORVEL_WIZARD_FILE_VERSION
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
