#include "card/container_name.h"

#include <cstdio>

std::string FormatContainerName(const CardSerial& serial, WORD roleWord, BYTE keyReference) {
  char name[kContainerNameLength + 1] = {};
  std::snprintf(name, sizeof(name), "%02X%02X%02X%02X%02X%02X%02X%02X%02X%s", serial[0], serial[1],
                serial[2], serial[3], serial[4], serial[5], (roleWord >> 8) & 0xFF, roleWord & 0xFF,
                keyReference, kPrivateKeyFilePath);
  return name;
}
