#include "storeprov/pin_prompt.h"

#include <QFontMetrics>
#include <QPainter>

#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "common/module_instance.h"
#include "common/secure_wipe.h"
#include "platform/resources.h"
#include "scaled_font.h"
#include "storeprov_resources.h"
#include "window_placement.h"

namespace {

constexpr std::size_t kTitleSize = 100;
constexpr std::size_t kPromptSize = 75;

// Drawing state of the PIN dialog, from its initialisation to its
// destruction: one PIN dialog at a time per process.
struct PinDialogDrawing {
  std::unique_ptr<QFont> font;  // made at the first paint
  const char* faceName = nullptr;
  int fontStyle = kFontBold | kFontItalic;
  bool largeLayout = false;
  QColor textColor;
  std::unique_ptr<char[]> prompt;
  std::optional<QColor> brush;
};
PinDialogDrawing g_drawing;

}  // namespace

bool LargePromptLayout(LONG dialogBaseUnits) {
  return (dialogBaseUnits & 0xFFFF) == 8 && ((dialogBaseUnits >> 16) & 0xFFFF) == 16;
}

PromptLayout PromptLayoutFor(bool large) {
  return large ? PromptLayout{{62, 28}, 170} : PromptLayout{{80, 31}, 140};
}

PinPrompt::~PinPrompt() { SecureWipe(m_pin, sizeof m_pin); }

const char* PinPrompt::GetPin() {
  SecureWipe(m_pin, sizeof m_pin);
  std::unique_ptr<char[]> title(new (std::nothrow) char[kTitleSize]);
  std::unique_ptr<char[]> prompt(new (std::nothrow) char[kPromptSize]);
  std::unique_ptr<PinDialogParams> params(new (std::nothrow) PinDialogParams{});
  if (!title || !prompt || !params) return nullptr;
  LoadStringA(ModuleInstance, IDS_PIN_TITLE, title.get(), kTitleSize);
  LoadStringA(ModuleInstance, IDS_PIN_PROMPT, prompt.get(), kPromptSize);
  *params = PinDialogParams{title.get(), prompt.get(), m_pin, kMaxPinLength};

  const INT_PTR result = RunDialog(ModuleInstance, kPinDialogTemplateId, PinDialogProc,
                                   reinterpret_cast<LPARAM>(params.get()));
  return result == IDOK ? m_pin : nullptr;
}

INT_PTR PinDialogProc(DialogHost& dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto* params = reinterpret_cast<const PinDialogParams*>(lParam);
      dialog.SetUserData(lParam);
      CenterWindow(&dialog);
      dialog.SetTitle(QString::fromUtf8(params->title));
      dialog.LimitText(kPinEditId, params->maxLength);
      dialog.FocusItem(kPinEditId);
      // Cancel stays the default button until the PIN is touched.
      dialog.SetDefaultId(IDCANCEL);
      g_drawing.largeLayout = LargePromptLayout(SystemDialogBaseUnits());
      g_drawing.faceName = kPromptFaceName;
      g_drawing.textColor = kPromptColor;
      g_drawing.prompt.reset(new (std::nothrow) char[kPromptSize]);
      if (g_drawing.prompt) {
        LoadStringA(ModuleInstance, IDS_PIN_PROMPT, g_drawing.prompt.get(), kPromptSize);
      }
      if (!g_drawing.brush) g_drawing.brush = kPinEditBackground;
      return TRUE;
    }
    case WM_COMMAND: {
      const int id = CommandId(wParam);
      if (id == kPinEditId && CommandNotification(wParam) == EN_CHANGE) {
        dialog.SetDefaultId(IDOK);
        return FALSE;
      }
      if (id == IDOK) {
        const auto* params = reinterpret_cast<const PinDialogParams*>(dialog.UserData());
        QByteArray typed = dialog.ItemText(kPinEditId).toUtf8();
        // A PIN whose bytes do not fit is refused whole rather than cut.
        const bool fits = typed.size() <= params->maxLength;
        if (fits) {
          std::memcpy(params->pin, typed.constData(), static_cast<std::size_t>(typed.size()));
          params->pin[typed.size()] = '\0';
        }
        SecureWipe(typed.data(), static_cast<std::size_t>(typed.size()));
        dialog.End(fits ? IDOK : 0);
        return TRUE;
      }
      if (id == IDCANCEL) {
        dialog.End(0);
        return TRUE;
      }
      return FALSE;
    }
    case WM_PAINT: {
      QPainter* painter = dialog.Painter();
      if (painter == nullptr) return FALSE;
      const PromptLayout layout = PromptLayoutFor(g_drawing.largeLayout);
      if (!g_drawing.font) {
        g_drawing.font = CreateScaledFont(dialog, g_drawing.faceName, layout.tenthsOfPoint, 0,
                                          g_drawing.fontStyle, false);
      }
      if (g_drawing.font) painter->setFont(*g_drawing.font);
      painter->setPen(g_drawing.textColor);
      painter->setBackgroundMode(Qt::TransparentMode);
      if (g_drawing.prompt) {
        // The position is the top left corner of the text.
        const QFontMetrics metrics(painter->font());
        painter->drawText(layout.position + QPoint(0, metrics.ascent()),
                          QString::fromUtf8(g_drawing.prompt.get()));
      }
      return FALSE;
    }
    case WM_CTLCOLOREDIT: {
      auto* colors = reinterpret_cast<EditColors*>(wParam);
      if (colors == nullptr || !g_drawing.brush) return 0;
      colors->text = kPromptColor;
      colors->background = *g_drawing.brush;
      return reinterpret_cast<INT_PTR>(&*g_drawing.brush);
    }
    case WM_DESTROY:
      g_drawing.font.reset();
      g_drawing.prompt.reset();
      g_drawing.brush.reset();
      return FALSE;
    default:
      return FALSE;
  }
}
