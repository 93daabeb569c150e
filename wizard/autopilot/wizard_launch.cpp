#include "wizard_launch.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <thread>

extern char** environ;

namespace wizard_launch {

namespace {

// This process's environment with the given variables set.
std::vector<std::string> Environment(const std::map<std::string, std::string>& settings) {
  std::vector<std::string> out;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    if (settings.count(name) == 0) out.push_back(text);
  }
  for (const auto& [name, value] : settings) out.push_back(name + "=" + value);
  return out;
}

}  // namespace

WizardExit RunWizard(const WizardRun& run) {
  std::map<std::string, std::string> settings;
  if (!run.autopilot.empty()) {
    settings["LD_PRELOAD"] = run.autopilot.string();
    settings["ORVEL_AUTOPILOT_FILE"] = run.file;
    settings["ORVEL_AUTOPILOT_PASSWORD"] = run.password;
    settings["ORVEL_AUTOPILOT_PIN"] = run.pin;
    if (!run.screenshots.empty())
      settings["ORVEL_AUTOPILOT_SCREENSHOTS"] = run.screenshots.string();
    if (!run.log.empty()) settings["ORVEL_AUTOPILOT_LOG"] = run.log.string();
    if (run.cancelAtFirstPage)
      settings.insert_or_assign("ORVEL_AUTOPILOT_CANCEL", std::string("1"));
  }
  std::vector<std::string> environment = Environment(settings);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = run.program.string();
  char* argv[] = {program.data(), nullptr};

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return {};
  if (pid == 0) {
    ::execve(program.c_str(), argv, envp.data());
    ::_exit(127);
  }

  WizardExit result;
  const auto deadline = start + run.timeout;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      result.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  result.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  result.exited = WIFEXITED(status);
  result.code = result.exited ? WEXITSTATUS(status) : -1;
  return result;
}

std::vector<std::string> ReadLog(const std::filesystem::path& log) {
  std::vector<std::string> lines;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::filesystem::path ProgramDirectory() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

}  // namespace wizard_launch
