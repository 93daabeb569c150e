// The cursor over modal windows: while a dialog or message box is up the
// normal arrow shows, as over any window that sets its own cursor, whatever
// cursor the program has set (the wait cursor of work in progress). When the
// last one closes, the program's cursor shows again.
#pragma once

#include "common/non_copyable.h"

namespace platform {

// For the life of a modal run; on the application's thread.
class ModalCursorScope : private NonCopyable {
 public:
  ModalCursorScope();
  ~ModalCursorScope();
};

}  // namespace platform
