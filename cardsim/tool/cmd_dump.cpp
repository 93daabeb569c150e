// orvelcard dump: what a card image holds, readably.
#include "card_dump.h"
#include "cardsim/virtual_card.h"
#include "commands.h"

namespace orvelcard {

int RunDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
    err << "usage: orvelcard dump IMAGE.json\n";
    return kExitUsage;
  }
  std::shared_ptr<cardsim::VirtualCard> card;
  try {
    card = cardsim::VirtualCard::LoadFile(args[0]);
  } catch (const std::exception& e) {
    err << "orvelcard dump: not a usable card image: " << e.what() << "\n";
    return kExitFailed;
  }
  out << "Card image: " << args[0] << "\n";
  DumpCard(*card, out);
  return kExitOk;
}

}  // namespace orvelcard
