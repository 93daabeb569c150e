// Starts the wizard program, with or without the autopilot, and waits for
// it: for the end-to-end tests, the demo and the benchmark.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace wizard_launch {

struct WizardRun {
  std::filesystem::path program;    // OrvelImportCertificate
  std::filesystem::path autopilot;  // liborvel_wizard_autopilot.so; empty: a person drives
  std::string file;
  std::string password;
  std::string pin;
  std::filesystem::path screenshots;  // empty: none
  std::filesystem::path log;          // empty: none
  bool cancelAtFirstPage = false;
  // Killed when it has not ended by then.
  std::chrono::milliseconds timeout{60000};
};

struct WizardExit {
  bool exited = false;  // false: it had to be killed, or could not start
  int code = -1;
  std::chrono::milliseconds duration{0};
};

// Runs the program with the environment of this process plus the
// autopilot's settings.
WizardExit RunWizard(const WizardRun& run);

// The lines of a log file written by the autopilot.
std::vector<std::string> ReadLog(const std::filesystem::path& log);

// The directory of the running program.
std::filesystem::path ProgramDirectory();

}  // namespace wizard_launch
