// orvelcard: makes, shows and serves virtual Orvel card images.
#include <iostream>

#include "commands.h"

namespace orvelcard {

void PrintUsage(std::ostream& out) {
  out << "usage:\n"
         "  orvelcard make IMAGE.json --serial HEX12 [--pin PIN] [--pin-tries N]\n"
         "                [--prkdf-size N] [--pukdf-size N] [--cdf-size N] [--force]\n"
         "  orvelcard dump IMAGE.json\n"
         "  orvelcard serve [--host HOST] IMAGE.json[:PORT] [IMAGE2.json[:PORT] ...]\n"
         "      serves the cards to the vpcd readers of a running pcscd (ports 35963, 35964, ...\n"
         "      unless given) and saves each image whenever its card changes; reads the\n"
         "      commands remove N, insert N, status and quit from standard input\n"
         "  orvelcard demo [IMAGE.json]\n"
         "      serves a sample card (or IMAGE.json) to a private pcscd and shows it through\n"
         "      PC/SC (needs root)\n";
}

}  // namespace orvelcard

int main(int argc, char** argv) {
  using namespace orvelcard;
  if (argc < 2) {
    PrintUsage(std::cerr);
    return kExitUsage;
  }
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "make") return RunMake(args, std::cout, std::cerr);
  if (command == "dump") return RunDump(args, std::cout, std::cerr);
  if (command == "serve") return RunServe(args, std::cout, std::cerr);
  if (command == "demo") return RunDemo(args, std::cout, std::cerr);
  if (command == "help" || command == "--help" || command == "-h") {
    PrintUsage(std::cout);
    return kExitOk;
  }
  std::cerr << "orvelcard: unknown command \"" << command << "\"\n";
  PrintUsage(std::cerr);
  return kExitUsage;
}
