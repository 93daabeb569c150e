#include "storeprov/messages.h"

#include <cstdarg>
#include <cstdio>

#include "common/module_instance.h"
#include "platform/message_box.h"
#include "platform/resources.h"

int ShowMessage(HWND owner, UINT style, UINT captionId, UINT textId, ...) {
  char caption[100];
  char text[400];
  if (LoadStringA(ModuleInstance, captionId, caption, sizeof caption) == 0) return -1;
  if (LoadStringA(ModuleInstance, textId, text, sizeof text) == 0) return -1;
  char formatted[400];
  va_list arguments;
  va_start(arguments, textId);
  std::vsnprintf(formatted, sizeof formatted, text, arguments);
  va_end(arguments);
  return MessageBoxA(owner, formatted, caption, style);
}
