#include "page_message.h"

#include "platform/framework_app.h"
#include "platform/resources.h"

std::string LoadResourceString(UINT id) {
  const char* text = platform::FindStringResource(AfxGetResourceHandle(), id);
  return text != nullptr ? std::string(text) : std::string();
}

void ShowPageMessage(CWnd& page, UINT icon, UINT captionId, UINT textId) {
  const std::string caption = LoadResourceString(captionId);
  const std::string text = LoadResourceString(textId);
  page.MessageBox(text.c_str(), caption.c_str(), MB_OK | icon);
}
