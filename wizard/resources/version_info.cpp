#include "version_info.h"

const ProgramVersionInfo kProgramVersion = {
    {ORVEL_VERSION_MAJOR, ORVEL_VERSION_MINOR, ORVEL_VERSION_PATCH, ORVEL_VERSION_TWEAK},
    {ORVEL_VERSION_MAJOR, ORVEL_VERSION_MINOR, ORVEL_VERSION_PATCH, ORVEL_VERSION_TWEAK},
    0x0C0A,
    0x04B0,
    ORVEL_WIZARD_FILE_DESCRIPTION,
    ORVEL_WIZARD_PRODUCT_NAME,
    ORVEL_WIZARD_INTERNAL_NAME,
    ORVEL_WIZARD_ORIGINAL_FILENAME,
    ORVEL_WIZARD_COMMENTS,
};

namespace {

// Kept by the linker even though nothing reads it at run time but
// ProgramVersionBlock: it is the program file's metadata.
__attribute__((section(".orvel.version"), used)) const char kVersionBlock[] =
    "Translation=0C0A04B0\n"
    "FileVersion=" ORVEL_WIZARD_FILE_VERSION
    "\n"
    "ProductVersion=" ORVEL_WIZARD_PRODUCT_VERSION
    "\n"
    "FileDescription=" ORVEL_WIZARD_FILE_DESCRIPTION
    "\n"
    "ProductName=" ORVEL_WIZARD_PRODUCT_NAME
    "\n"
    "InternalName=" ORVEL_WIZARD_INTERNAL_NAME
    "\n"
    "OriginalFilename=" ORVEL_WIZARD_ORIGINAL_FILENAME
    "\n"
    "Comments=" ORVEL_WIZARD_COMMENTS "\n";

}  // namespace

const char* ProgramVersionBlock() { return kVersionBlock; }
