// orvelcard demo: a card served to a private pcscd and looked at through
// the real PC/SC stack, the way the system's own programs reach it.
#include <filesystem>

#include "card_dump.h"
#include "cardsim/pcsc_session.h"
#include "cardsim/pcscd_rig.h"
#include "cardsim/virtual_card.h"
#include "commands.h"

namespace orvelcard {
namespace {

using cardsim::Bytes;
using cardsim::HexBytes;

const Bytes kSelectMasterFile = {0x00, 0xA4, 0x04, 0x00, 0x0B, 'M', 'a', 's',
                                 't',  'e',  'r',  '.',  'F',  'i', 'l', 'e'};
const Bytes kGetChipInfo = {0x90, 0xB8, 0x00, 0x00, 0x12};
constexpr std::array<std::uint8_t, 6> kSampleSerial = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};

Bytes Exchange(const cardsim::PcscCard& connection, const char* name, const Bytes& command,
               std::ostream& out) {
  out << "  " << name << "\n    > " << HexBytes(command) << "\n";
  const Bytes answer = connection.Transmit(command);
  out << "    < " << HexBytes(answer) << "\n";
  return answer;
}

}  // namespace

int RunDemo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() > 1 || (args.size() == 1 && (args[0].empty() || args[0][0] == '-'))) {
    err << "usage: orvelcard demo [IMAGE.json]\n";
    return kExitUsage;
  }
  std::shared_ptr<cardsim::VirtualCard> card;
  try {
    if (!args.empty() && std::filesystem::exists(args[0])) {
      card = cardsim::VirtualCard::LoadFile(args[0]);
      out << "Card: " << args[0] << "\n";
    } else {
      cardsim::CardSpec spec;
      spec.serial = kSampleSerial;
      card = cardsim::VirtualCard::MakeFresh(spec);
      out << "Card: a fresh sample card\n";
      if (!args.empty()) {
        card->SaveFile(args[0]);
        out << "  saved as " << args[0] << "\n";
      }
    }
  } catch (const std::exception& e) {
    err << "orvelcard demo: " << e.what() << "\n";
    return kExitFailed;
  }

  try {
    cardsim::PcscdRig rig({card});
    out << "Starting a private pcscd (a mount namespace of its own; a system pcscd is left "
           "alone)\n";
    rig.Start();
    out << "  ready in " << rig.StartupTime().count() << " ms, socket "
        << cardsim::PcscdRig::SocketPath().string() << "\n\n";

    cardsim::PcscContext context;
    out << "Readers seen through PC/SC:\n";
    for (const std::string& reader : context.ListReaders()) {
      Bytes atr;
      const DWORD state = context.ReaderState(reader, &atr);
      out << "  " << reader << ": ";
      if (state & SCARD_STATE_PRESENT)
        out << "card present, ATR " << HexBytes(atr) << "\n";
      else
        out << "empty\n";
    }

    const std::string& reader = rig.ReaderName(0);
    out << "\nThe card in \"" << reader << "\" (shared, T=0):\n";
    cardsim::PcscCard connection(context, reader);
    const Bytes select = Exchange(connection, "SELECT \"Master.File\"", kSelectMasterFile, out);
    if (select.size() == 2 && select[0] == 0x61)
      Exchange(connection, "GET RESPONSE", {0x00, 0xC0, 0x00, 0x00, select[1]}, out);
    const Bytes chip = Exchange(connection, "GET CHIP INFO", kGetChipInfo, out);
    if (chip.size() == 20 && cardsim::StatusWord(chip) == 0x9000)
      out << "    serial (bytes 10 to 15): "
          << HexBytes(Bytes(chip.begin() + 10, chip.begin() + 16), "") << "\n";

    out << "\nWhat the card holds:\n";
    DumpCard(*card, out);
    rig.Stop();
    out << "\nprivate pcscd stopped\n";
  } catch (const std::exception& e) {
    err << "orvelcard demo: " << e.what() << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace orvelcard
