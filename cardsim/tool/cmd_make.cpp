// orvelcard make: a fresh card image.
#include <openssl/crypto.h>

#include <filesystem>

#include "cardsim/virtual_card.h"
#include "commands.h"
#include "tool_args.h"

namespace orvelcard {
namespace {

// The card keeps its files within 16-bit offsets.
constexpr std::size_t kMaxFileSize = 0xFFFF;
constexpr std::size_t kMaxPinLength = 64;

// Wipes a PIN held in a string when it goes.
struct PinWiper {
  std::string& pin;
  ~PinWiper() { OPENSSL_cleanse(pin.data(), pin.size()); }
};

}  // namespace

int RunMake(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  cardsim::CardSpec spec;
  PinWiper wipe{spec.pin};
  std::optional<std::filesystem::path> image;
  bool haveSerial = false;
  bool force = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> const std::string* {
      if (i + 1 >= args.size()) {
        err << "orvelcard make: " << arg << " needs a value\n";
        return nullptr;
      }
      return &args[++i];
    };
    auto size = [&](std::size_t& target) {
      const std::string* text = value();
      if (!text) return false;
      const std::optional<std::size_t> n = ParseNumber(*text, 1, kMaxFileSize);
      if (!n) {
        err << "orvelcard make: " << arg << " wants a size from 1 to " << kMaxFileSize << "\n";
        return false;
      }
      target = *n;
      return true;
    };

    if (arg == "--serial") {
      const std::string* text = value();
      if (!text) return kExitUsage;
      const auto serial = ParseSerial(*text);
      if (!serial) {
        err << "orvelcard make: --serial wants 12 hexadecimal digits\n";
        return kExitUsage;
      }
      spec.serial = *serial;
      haveSerial = true;
    } else if (arg == "--pin") {
      const std::string* text = value();
      if (!text) return kExitUsage;
      if (text->empty() || text->size() > kMaxPinLength) {
        err << "orvelcard make: --pin wants 1 to " << kMaxPinLength << " characters\n";
        return kExitUsage;
      }
      spec.pin = *text;
    } else if (arg == "--pin-tries") {
      const std::string* text = value();
      if (!text) return kExitUsage;
      const std::optional<std::size_t> n = ParseNumber(*text, 1, 15);
      if (!n) {
        err << "orvelcard make: --pin-tries wants a number from 1 to 15\n";
        return kExitUsage;
      }
      spec.pinTries = static_cast<int>(*n);
    } else if (arg == "--prkdf-size") {
      if (!size(spec.prkdfSize)) return kExitUsage;
    } else if (arg == "--pukdf-size") {
      if (!size(spec.pukdfSize)) return kExitUsage;
    } else if (arg == "--cdf-size") {
      if (!size(spec.cdfSize)) return kExitUsage;
    } else if (arg == "--force") {
      force = true;
    } else if (!arg.empty() && arg[0] == '-') {
      err << "orvelcard make: unknown option " << arg << "\n";
      return kExitUsage;
    } else if (!image) {
      image = arg;
    } else {
      err << "orvelcard make: one image at a time\n";
      return kExitUsage;
    }
  }
  if (!image || !haveSerial) {
    err << "usage: orvelcard make IMAGE.json --serial HEX12 [--pin PIN] [--pin-tries N]\n"
           "                     [--prkdf-size N] [--pukdf-size N] [--cdf-size N] [--force]\n";
    return kExitUsage;
  }
  std::error_code ec;
  if (!force && std::filesystem::exists(*image, ec)) {
    err << "orvelcard make: " << image->string() << " exists (--force overwrites it)\n";
    return kExitFailed;
  }

  try {
    cardsim::VirtualCard::MakeFresh(spec)->SaveFile(*image);
  } catch (const std::exception& e) {
    err << "orvelcard make: " << e.what() << "\n";
    return kExitFailed;
  }
  out << "made " << image->string() << "\n";
  return kExitOk;
}

}  // namespace orvelcard
