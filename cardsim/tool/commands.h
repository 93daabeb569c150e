// The card tool's commands. Each returns the program's exit status:
// 0 done, 1 failed, 2 wrong usage.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace orvelcard {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// make IMAGE.json --serial HEX12 [--pin PIN] [--pin-tries N]
//      [--prkdf-size N] [--pukdf-size N] [--cdf-size N] [--force]
int RunMake(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// dump IMAGE.json
int RunDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// serve [--host HOST] IMAGE.json[:PORT] ...; commands on standard input.
int RunServe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// demo [IMAGE.json]
int RunDemo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

void PrintUsage(std::ostream& out);

}  // namespace orvelcard
