// Card database commands.
#include <cstdio>
#include <iostream>
#include <string_view>
#include <vector>

#include "common/hex_text.h"
#include "common/non_copyable.h"
#include "platform/card_database.h"
#include "platform/winscard_ext.h"
#include "tool_commands.h"

namespace tool {
namespace {

// A card name is one string of a multi-string: not empty, no control
// characters (a NUL would end it).
bool IsCardName(std::string_view name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

// A PC/SC or card-database result as the tool prints it: 0x8010002E.
std::string CodeText(LONG rv) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(static_cast<std::uint32_t>(rv)));
  return code;
}

struct ReaderCard {
  std::string reader;
  std::vector<std::uint8_t> atr;  // empty: no card
};

// Closes the resource manager context on every path.
class Context : private NonCopyable {
 public:
  Context() { m_rv = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &m_context); }
  ~Context() {
    if (m_rv == SCARD_S_SUCCESS) SCardReleaseContext(m_context);
  }
  LONG Status() const { return m_rv; }
  SCARDCONTEXT Handle() const { return m_context; }

 private:
  SCARDCONTEXT m_context = 0;
  LONG m_rv = SCARD_F_UNKNOWN_ERROR;
};

// The readers and the ATRs of the cards in them, without connecting to any.
LONG ReadersAndCards(SCARDCONTEXT context, std::vector<ReaderCard>& found) {
  DWORD size = 0;
  LONG rv = SCardListReaders(context, nullptr, nullptr, &size);
  if (rv == SCARD_E_NO_READERS_AVAILABLE) return SCARD_S_SUCCESS;
  if (rv != SCARD_S_SUCCESS) return rv;
  std::string names(size, '\0');
  rv = SCardListReaders(context, nullptr, names.data(), &size);
  if (rv == SCARD_E_NO_READERS_AVAILABLE) return SCARD_S_SUCCESS;
  if (rv != SCARD_S_SUCCESS) return rv;
  for (std::size_t at = 0; at < names.size() && names[at] != '\0';) {
    const std::string name = names.c_str() + at;
    found.push_back({name, {}});
    at += name.size() + 1;
  }
  if (found.empty()) return SCARD_S_SUCCESS;
  std::vector<SCARD_READERSTATE> states(found.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    states[i].szReader = found[i].reader.c_str();
    states[i].dwCurrentState = SCARD_STATE_UNAWARE;
  }
  rv = SCardGetStatusChange(context, 0, states.data(), static_cast<DWORD>(states.size()));
  if (rv != SCARD_S_SUCCESS && rv != SCARD_E_TIMEOUT) return rv;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if ((states[i].dwEventState & SCARD_STATE_PRESENT) && states[i].cbAtr > 0 &&
        states[i].cbAtr <= MAX_ATR_SIZE) {
      found[i].atr.assign(states[i].rgbAtr, states[i].rgbAtr + states[i].cbAtr);
    }
  }
  return SCARD_S_SUCCESS;
}

int WriteCardType(const std::string& name, const std::vector<std::uint8_t>& atr,
                  const std::vector<std::uint8_t>& mask, std::ostream& out, std::ostream& err) {
  const LONG rv = SCardIntroduceCardTypeA(0, name.c_str(), nullptr, nullptr, 0, atr.data(),
                                          mask.data(), static_cast<DWORD>(atr.size()));
  if (rv != SCARD_S_SUCCESS) {
    err << "register-card: cannot write the card database (" << CodeText(rv) << ")\n";
    return 1;
  }
  out << name << ": ATR " << HexText(atr) << " mask " << HexText(mask) << "\n";
  return 0;
}

int RegisterCard(std::span<const std::string> args) {
  if (!args.empty() && !IsCardName(args[0])) {
    std::fprintf(stderr,
                 "register-card: a card name must not be empty nor hold control "
                 "characters\n");
    return 2;
  }
  if (args.size() == 1 || (args.size() == 3 && args[1] == "--reader")) {
    return RegisterCardInReader(args[0], args.size() == 3 ? &args[2] : nullptr, std::cin, std::cout,
                                std::cerr);
  }
  if (args.size() != 3) {
    std::fprintf(stderr, "register-card: expected NAME ATR MASK, or NAME [--reader READER]\n");
    return 2;
  }
  const auto atr = platform::ParseHexBytes(args[1]);
  const auto mask = platform::ParseHexBytes(args[2]);
  if (!atr || atr->empty() || atr->size() > MAX_ATR_SIZE) {
    std::fprintf(stderr, "register-card: ATR must be 1 to %d bytes in hexadecimal\n", MAX_ATR_SIZE);
    return 2;
  }
  if (!mask || mask->size() != atr->size()) {
    std::fprintf(stderr, "register-card: MASK must have as many bytes as the ATR\n");
    return 2;
  }
  return WriteCardType(args[0], *atr, *mask, std::cout, std::cerr);
}

int ForgetCard(std::span<const std::string> args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "forget-card: expected NAME\n");
    return 2;
  }
  const LONG rv = SCardForgetCardTypeA(0, args[0].c_str());
  if (rv == SCARD_E_UNKNOWN_CARD) {
    std::fprintf(stderr, "forget-card: no card named '%s'\n", args[0].c_str());
    return 1;
  }
  if (rv != SCARD_S_SUCCESS) {
    std::fprintf(stderr, "forget-card: cannot write the card database\n");
    return 1;
  }
  return 0;
}

int ListCards(std::span<const std::string> args) {
  if (!args.empty()) {
    std::fprintf(stderr, "list-cards: takes no arguments\n");
    return 2;
  }
  for (const platform::CardType& type : platform::ListCardTypes()) {
    std::printf("%s\t%s\t%s\n", type.name.c_str(), HexText(type.atr).c_str(),
                HexText(type.mask).c_str());
  }
  return 0;
}

const Command kCardCommands[] = {
    {"register-card", "NAME ATR MASK | NAME [--reader READER]",
     "enter a card name into the card database with its ATR and mask (hexadecimal), or with\n"
     "      the whole ATR of the card in a reader (asked for when several hold cards)",
     RegisterCard},
    {"forget-card", "NAME", "remove a card name from the card database", ForgetCard},
    {"list-cards", "", "list the card database: name, ATR, mask", ListCards},
};

}  // namespace

std::span<const Command> CardCommands() { return kCardCommands; }

int RegisterCardInReader(const std::string& name, const std::string* reader, std::istream& in,
                         std::ostream& out, std::ostream& err) {
  if (!IsCardName(name)) {
    err << "register-card: a card name must not be empty nor hold control characters\n";
    return 2;
  }
  Context context;
  std::vector<ReaderCard> readers;
  LONG rv = context.Status();
  if (rv == SCARD_S_SUCCESS) rv = ReadersAndCards(context.Handle(), readers);
  if (rv != SCARD_S_SUCCESS) {
    err << "register-card: the PC/SC service cannot list the readers (" << CodeText(rv)
        << "); is pcscd running?\n";
    return 1;
  }
  const ReaderCard* chosen = nullptr;
  if (reader != nullptr) {
    for (const ReaderCard& r : readers) {
      if (r.reader == *reader) chosen = &r;
    }
    if (chosen == nullptr) {
      err << "register-card: no reader named \"" << *reader << "\"";
      if (readers.empty()) err << " (no readers are connected)";
      err << "\n";
      for (const ReaderCard& r : readers) err << "  " << r.reader << "\n";
      return 2;
    }
    if (chosen->atr.empty()) {
      err << "register-card: no card in the reader \"" << *reader << "\"\n";
      return 2;
    }
  } else {
    std::vector<const ReaderCard*> holding;
    for (const ReaderCard& r : readers) {
      if (!r.atr.empty()) holding.push_back(&r);
    }
    if (holding.empty()) {
      err << "register-card: no card in any reader\n";
      return 2;
    }
    chosen = holding.front();
    if (holding.size() > 1) {
      out << "Readers holding a card:\n";
      for (std::size_t i = 0; i < holding.size(); ++i) {
        out << "  " << i + 1 << ") " << holding[i]->reader << "  ATR " << HexText(holding[i]->atr)
            << "\n";
      }
      out << "Reader number (1-" << holding.size() << "): " << std::flush;
      std::string line;
      std::size_t number = 0;
      if (std::getline(in, line)) {
        try {
          std::size_t used = 0;
          number = std::stoul(line, &used);
          if (line.find_first_not_of(" \t\r", used) != std::string::npos) number = 0;
        } catch (const std::exception&) {
          number = 0;
        }
      }
      if (number < 1 || number > holding.size()) {
        err << "register-card: no reader chosen (a number from 1 to " << holding.size()
            << " was expected)\n";
        return 2;
      }
      chosen = holding[number - 1];
    }
  }
  const std::vector<std::uint8_t> mask(chosen->atr.size(), 0xFF);
  return WriteCardType(name, chosen->atr, mask, out, err);
}

}  // namespace tool
