// orvel-wizard-demo: runs OrvelImportCertificate against a virtual Orvel card
// served to a private pcscd, as a person would use it, and keeps the card
// afterwards.
//
//   orvel-wizard-demo --pfx FILE --password TEXT [--pin PIN] [--card IMAGE.json]
//                     [--save IMAGE.json] [--autopilot [--screenshots DIR]]
//
// Without --card the card is a fresh one (serial 0123456789AB) with the PIN
// given (1234 by default). With --autopilot the wizard walks through its
// pages by itself; otherwise it waits for a person. The platform's per-user
// state (provider and card registrations, key containers) goes to
// ORVEL_USER_DIR, or to a fresh directory under /tmp that is printed. Needs
// root: the private pcscd runs in a mount namespace of its own.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cardsim/pcscd_rig.h"
#include "platform/card_database.h"
#include "platform/provider_registry.h"
#include "platform/wincrypt.h"
#include "wizard_launch.h"

namespace {

int Usage() {
  std::cerr << "usage: orvel-wizard-demo --pfx FILE --password TEXT [--pin PIN]\n"
               "                         [--card IMAGE.json] [--save IMAGE.json]\n"
               "                         [--autopilot [--screenshots DIR]]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> options;
  bool autopilot = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--autopilot") {
      autopilot = true;
    } else if (arg.rfind("--", 0) == 0 && i + 1 < argc) {
      options[arg.substr(2)] = argv[++i];
    } else {
      return Usage();
    }
  }
  if (options.count("pfx") == 0 || options.count("password") == 0) return Usage();
  const std::string pin = options.count("pin") ? options["pin"] : "1234";

  if (std::getenv("ORVEL_USER_DIR") == nullptr) {
    std::string pattern = "/tmp/orvel-demo-user-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      return 1;
    }
    ::setenv("ORVEL_USER_DIR", pattern.c_str(), 1);
    std::cout << "Platform user state: " << pattern << "\n";
  }
  const auto atr = cardsim::VirtualCard::Atr();
  if (!platform::RegisterProvider("OrvelCSP", PROV_RSA_FULL, "liborvelcsp.so") ||
      !platform::RegisterCardType({"DRAV-NOR", atr, std::vector<std::uint8_t>(atr.size(), 0xFF)})) {
    std::cerr << "orvel-wizard-demo: the provider or the card type could not be registered\n";
    return 1;
  }

  std::shared_ptr<cardsim::VirtualCard> card;
  try {
    if (options.count("card")) {
      card = cardsim::VirtualCard::LoadFile(options["card"]);
    } else {
      cardsim::CardSpec spec;
      spec.serial = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
      spec.pin = pin;
      card = cardsim::VirtualCard::MakeFresh(spec);
    }
  } catch (const std::exception& e) {
    std::cerr << "orvel-wizard-demo: " << e.what() << "\n";
    return 1;
  }

  const auto bin = wizard_launch::ProgramDirectory();
  wizard_launch::WizardRun run;
  run.program = bin / "OrvelImportCertificate";
  run.file = options["pfx"];
  run.password = options["password"];
  run.pin = pin;
  if (autopilot) {
    run.autopilot = bin / "liborvel_wizard_autopilot.so";
    if (options.count("screenshots")) {
      run.screenshots = std::filesystem::absolute(options["screenshots"]);
      std::filesystem::create_directories(run.screenshots);
    }
    run.log = std::filesystem::path(std::getenv("ORVEL_USER_DIR")) / "autopilot.log";
    std::filesystem::remove(run.log);
  } else {
    run.timeout = std::chrono::hours(2);
  }

  wizard_launch::WizardExit exit;
  try {
    cardsim::PcscdRig rig({card});
    rig.Start();
    std::cout << "pcscd is serving the virtual card in \"" << rig.ReaderName(0) << "\" (PIN " << pin
              << ")\n";
    exit = wizard_launch::RunWizard(run);
  } catch (const std::exception& e) {
    std::cerr << "orvel-wizard-demo: " << e.what() << "\n";
    return 1;
  }

  if (autopilot) {
    for (const std::string& line : wizard_launch::ReadLog(run.log)) {
      std::cout << "  wizard: " << line << "\n";
    }
  }
  std::cout << "The wizard "
            << (exit.exited ? "ended with code " + std::to_string(exit.code)
                            : std::string("did not end and was stopped"))
            << " after " << exit.duration.count() << " ms\n";
  if (options.count("save")) {
    card->SaveFile(options["save"]);
    std::cout << "Card saved to " << options["save"] << "\n";
  }
  return exit.exited && exit.code == 0 ? 0 : 1;
}
