// The system cursors and the program's cursor, shown through Qt's override
// cursor.
#include <QCursor>
#include <QGuiApplication>
#include <QThread>

#include <iterator>
#include <mutex>

#include "modal_cursor.h"
#include "platform/winuser.h"

namespace {

struct SystemCursor {
  WORD id;
  Qt::CursorShape shape;
};

constexpr SystemCursor kSystemCursors[] = {
    {32512, Qt::ArrowCursor},     {32513, Qt::IBeamCursor},     {32514, Qt::WaitCursor},
    {32515, Qt::CrossCursor},     {32516, Qt::UpArrowCursor},   {32642, Qt::SizeFDiagCursor},
    {32643, Qt::SizeBDiagCursor}, {32644, Qt::SizeHorCursor},   {32645, Qt::SizeVerCursor},
    {32646, Qt::SizeAllCursor},   {32648, Qt::ForbiddenCursor}, {32649, Qt::PointingHandCursor},
    {32650, Qt::BusyCursor},      {32651, Qt::WhatsThisCursor},
};

HCURSOR HandleOf(const SystemCursor& cursor) {
  return reinterpret_cast<HCURSOR>(const_cast<SystemCursor*>(&cursor));
}

const SystemCursor* CursorOf(HCURSOR handle) {
  for (const SystemCursor& cursor : kSystemCursors) {
    if (HandleOf(cursor) == handle) return &cursor;
  }
  return nullptr;
}

HCURSOR Arrow() { return HandleOf(kSystemCursors[0]); }

struct CursorState {
  std::mutex mutex;
  HCURSOR current = Arrow();
  int modalRuns = 0;        // modal windows up: the arrow shows over them
  bool overridden = false;  // we have an override cursor on Qt's stack (GUI thread only)
};

CursorState& State() {
  static auto& state = *new CursorState();
  return state;
}

// Brings Qt's override cursor in line with the program's cursor (the arrow
// while a modal window is up); runs on the application's thread.
void ShowCurrentCursor() {
  CursorState& state = State();
  HCURSOR wanted;
  {
    std::lock_guard lock(state.mutex);
    wanted = state.modalRuns > 0 ? Arrow() : state.current;
  }
  if (wanted == Arrow()) {
    if (state.overridden) QGuiApplication::restoreOverrideCursor();
    state.overridden = false;
    return;
  }
  const SystemCursor* cursor = CursorOf(wanted);
  const QCursor shape(cursor ? cursor->shape : Qt::BlankCursor);
  if (state.overridden) {
    QGuiApplication::changeOverrideCursor(shape);
  } else {
    QGuiApplication::setOverrideCursor(shape);
    state.overridden = true;
  }
}

void CountModalRun(int change) {
  CursorState& state = State();
  {
    std::lock_guard lock(state.mutex);
    state.modalRuns += change;
  }
  ShowCurrentCursor();
}

}  // namespace

namespace platform {

ModalCursorScope::ModalCursorScope() { CountModalRun(+1); }

ModalCursorScope::~ModalCursorScope() { CountModalRun(-1); }

}  // namespace platform

extern "C" HCURSOR LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
  if (hInstance == nullptr && IS_INTRESOURCE(lpCursorName)) {
    const auto id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(lpCursorName));
    for (const SystemCursor& cursor : kSystemCursors) {
      if (cursor.id == id) return HandleOf(cursor);
    }
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}

extern "C" HCURSOR SetCursor(HCURSOR hCursor) {
  CursorState& state = State();
  HCURSOR previous;
  {
    std::lock_guard lock(state.mutex);
    previous = state.current;
    state.current = hCursor;
  }
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (app != nullptr) {
    if (QThread::currentThread() == app->thread()) {
      ShowCurrentCursor();
    } else {
      QMetaObject::invokeMethod(app, &ShowCurrentCursor, Qt::QueuedConnection);
    }
  }
  return previous;
}

extern "C" HCURSOR GetCursor(void) {
  CursorState& state = State();
  std::lock_guard lock(state.mutex);
  return state.current;
}
