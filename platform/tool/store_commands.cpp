// Certificate store commands: list-store, import-pfx and watch-store.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "platform/wincrypt.h"
#include "store_listing.h"
#include "tool_commands.h"

namespace tool {
namespace {

int ListStore(std::span<const std::string> args) {
  if (args.size() > 1) {
    std::fprintf(stderr, "list-store: expected at most a store name\n");
    return 2;
  }
  const std::string name = args.empty() ? "MY" : args[0];
  const CCertStore store(OpenSystemStore("list-store", name));
  if (!store.Get()) return 1;
  PrintStore(store.Get(), name);
  return 0;
}

// A password held where it can be wiped: its UTF-8 text and its UTF-16 form.
class Password {
 public:
  ~Password() { Wipe(); }
  std::vector<char>& Text() { return m_text; }
  // The UTF-16 form; false when the text is not valid UTF-8.
  bool Convert() {
    m_text.push_back('\0');
    const int units =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, m_text.data(), -1, nullptr, 0);
    if (units <= 0) return false;
    m_wide.assign(static_cast<std::size_t>(units), u'\0');
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, m_text.data(), -1, m_wide.data(),
                               units) == units;
  }
  LPCWSTR Wide() const { return m_wide.data(); }
  void Wipe() {
    if (!m_text.empty()) explicit_bzero(m_text.data(), m_text.size());
    if (!m_wide.empty()) explicit_bzero(m_wide.data(), m_wide.size() * sizeof(WCHAR));
  }

 private:
  std::vector<char> m_text;
  std::vector<WCHAR> m_wide;
};

// Reads one line (without its end) into the password, with the echo off
// when reading from a terminal.
bool ReadPassword(const std::string& file, Password& password) {
  const bool terminal = ::isatty(STDIN_FILENO) != 0;
  termios saved{};
  if (terminal) {
    std::fprintf(stderr, "Password for %s: ", file.c_str());
    std::fflush(stderr);
    if (::tcgetattr(STDIN_FILENO, &saved) == 0) {
      termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
  }
  bool ended = false;
  for (int c; (c = std::getchar()) != EOF;) {
    if (c == '\n') {
      ended = true;
      break;
    }
    password.Text().push_back(static_cast<char>(c));
  }
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fprintf(stderr, "\n");
  }
  if (!password.Text().empty() && password.Text().back() == '\r') password.Text().pop_back();
  return ended || !password.Text().empty();
}

int ImportPfx(std::span<const std::string> args) {
  std::string file;
  std::optional<std::string> given;
  bool exportable = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--password" && i + 1 < args.size()) {
      given = args[++i];
    } else if (args[i] == "--exportable") {
      exportable = true;
    } else if (file.empty() && args[i].rfind("--", 0) != 0) {
      file = args[i];
    } else {
      file.clear();
      break;
    }
  }
  if (file.empty()) {
    std::fprintf(stderr, "import-pfx: expected FILE [--password PASSWORD] [--exportable]\n");
    return 2;
  }
  auto bytes = ReadFileBytes(file);
  if (!bytes) {
    std::fprintf(stderr, "import-pfx: cannot read %s\n", file.c_str());
    return 1;
  }
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes->size()), bytes->data()};
  if (bytes->empty() || !PFXIsPFXBlob(&blob)) {
    std::fprintf(stderr, "import-pfx: %s is not a PFX file\n", file.c_str());
    return 1;
  }
  Password password;
  if (given) {
    password.Text().assign(given->begin(), given->end());
  } else if (!ReadPassword(file, password)) {
    std::fprintf(stderr, "import-pfx: no password given\n");
    return 1;
  }
  if (!password.Convert()) {
    std::fprintf(stderr, "import-pfx: the password is not valid text\n");
    return 1;
  }
  if (!PFXVerifyPassword(&blob, password.Wide(), 0)) {
    std::fprintf(stderr, "import-pfx: wrong password for %s\n", file.c_str());
    return 1;
  }
  const DWORD flags = CRYPT_USER_KEYSET | (exportable ? CRYPT_EXPORTABLE : 0);
  const CCertStore imported(PFXImportCertStore(&blob, password.Wide(), flags));
  password.Wipe();
  if (!imported.Get()) {
    std::fprintf(stderr, "import-pfx: cannot import %s (0x%08lX)\n", file.c_str(),
                 Code(GetLastError()));
    return 1;
  }
  const CCertStore personal(OpenSystemStore("import-pfx", "MY"));
  if (!personal.Get()) return 1;

  // As the platform's import does: each certificate into the personal store,
  // replacing a copy there and keeping that copy's properties.
  int added = 0, refused = 0;
  PCCERT_CONTEXT certificate = nullptr;
  while ((certificate = CertEnumCertificatesInStore(imported.Get(), certificate)) != nullptr) {
    const std::string subject = SubjectText(certificate);
    if (CertAddCertificateContextToStore(personal.Get(), certificate,
                                         CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES,
                                         nullptr)) {
      std::printf("added: %s\n", subject.c_str());
      ++added;
    } else {
      std::fprintf(stderr, "import-pfx: %s was not added (0x%08lX)\n", subject.c_str(),
                   Code(GetLastError()));
      ++refused;
    }
  }
  std::printf("%d certificate%s added to MY\n", added, added == 1 ? "" : "s");
  return refused == 0 ? 0 : 1;
}

int WatchStore(std::span<const std::string> args) {
  std::string name = "MY";
  unsigned long seconds = 60;
  bool named = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--timeout" && i + 1 < args.size()) {
      char* end = nullptr;
      seconds = std::strtoul(args[++i].c_str(), &end, 10);
      if (!end || *end != '\0' || args[i].empty() || seconds == 0 || seconds > 86400) {
        std::fprintf(stderr, "watch-store: --timeout takes 1 to 86400 seconds\n");
        return 2;
      }
    } else if (!named && args[i].rfind("--", 0) != 0) {
      name = args[i];
      named = true;
    } else {
      std::fprintf(stderr, "watch-store: expected [NAME] [--timeout SECONDS]\n");
      return 2;
    }
  }
  const CCertStore store(OpenSystemStore("watch-store", name));
  if (!store.Get()) return 1;
  PrintStore(store.Get(), name);

  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!event) {
    std::fprintf(stderr, "watch-store: cannot create an event (0x%08lX)\n", Code(GetLastError()));
    return 1;
  }
  struct EventCloser {
    HANDLE h;
    ~EventCloser() { CloseHandle(h); }
  } closer{event};
  if (!CertControlStore(store.Get(), 0, CERT_STORE_CTRL_NOTIFY_CHANGE, &event)) {
    std::fprintf(stderr, "watch-store: the store %s cannot report changes (0x%08lX)\n",
                 name.c_str(), Code(GetLastError()));
    return 1;
  }
  std::printf("Waiting up to %lu s for a change of %s\n", seconds, name.c_str());
  std::fflush(stdout);
  const DWORD wait = WaitForSingleObject(event, static_cast<DWORD>(seconds * 1000));
  if (wait == WAIT_TIMEOUT) {
    std::fprintf(stderr, "watch-store: no change of %s within %lu s\n", name.c_str(), seconds);
    return 3;
  }
  if (wait != WAIT_OBJECT_0) {
    std::fprintf(stderr, "watch-store: the wait failed (0x%08lX)\n", Code(GetLastError()));
    return 1;
  }
  std::printf("%s changed\n", name.c_str());
  if (!CertControlStore(store.Get(), 0, CERT_STORE_CTRL_RESYNC, &event)) {
    std::fprintf(stderr, "watch-store: cannot resynchronise %s (0x%08lX)\n", name.c_str(),
                 Code(GetLastError()));
    return 1;
  }
  PrintStore(store.Get(), name);
  return 0;
}

const Command kStoreCommands[] = {
    {"list-store", "[NAME]",
     "list a system store of the user (MY by default): subject, thumbprint, key provider",
     ListStore},
    {"import-pfx", "FILE [--password PASSWORD] [--exportable]",
     "import a PFX file and add each certificate to MY as the platform's import does "
     "(the password is asked for when not given)",
     ImportPfx},
    {"watch-store", "[NAME] [--timeout SECONDS]",
     "list a system store, wait for its change notification (60 s by default; exit 3 when "
     "none comes), resynchronise it and list it again",
     WatchStore},
};

}  // namespace

std::span<const Command> StoreCommands() { return kStoreCommands; }

}  // namespace tool
