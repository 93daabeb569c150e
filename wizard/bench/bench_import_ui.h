// User-interface operations for timing one certificate's card work: from
// the moment the PIN is given to the summary message.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "import_ui.h"

class CBenchImportUi : public CImportUi {
 public:
  using Clock = std::chrono::steady_clock;

  // commandCount: commands the card has received so far.
  CBenchImportUi(std::string pin, std::function<std::size_t()> commandCount)
      : pin_(std::move(pin)), commandCount_(std::move(commandCount)) {}

  void ShowPageMessage(UINT, UINT, UINT textId) override {
    lastMessage = textId;
    summaryAt = Clock::now();
    commandsAtSummary = commandCount_();
  }
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  std::optional<CPinText> PromptForPin() override {
    commandsAtPin = commandCount_();
    pinAt = Clock::now();
    return CPinText(pin_);
  }

  double Seconds() const { return std::chrono::duration<double>(summaryAt - pinAt).count(); }
  std::size_t Commands() const { return commandsAtSummary - commandsAtPin; }

  UINT lastMessage = 0;
  Clock::time_point pinAt, summaryAt;
  std::size_t commandsAtPin = 0, commandsAtSummary = 0;

 private:
  std::string pin_;
  std::function<std::size_t()> commandCount_;
};
