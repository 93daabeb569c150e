// User-interface operations for timing one certificate's card work: from
// the moment the PIN is given to the summary message.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "wizard/import_ui.h"

class CBenchImportUi : public CImportUi {
 public:
  using Clock = std::chrono::steady_clock;

  // commandCount: commands the card has received so far.
  CBenchImportUi(std::string pin, std::function<std::size_t()> commandCount)
      : m_pin(std::move(pin)), m_commandCount(std::move(commandCount)) {}

  void ShowPageMessage(UINT, UINT, UINT textId) override {
    lastMessage = textId;
    summaryAt = Clock::now();
    commandsAtSummary = m_commandCount();
  }
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  std::optional<CPinText> PromptForPin() override {
    commandsAtPin = m_commandCount();
    pinAt = Clock::now();
    return CPinText(m_pin);
  }

  double Seconds() const { return std::chrono::duration<double>(summaryAt - pinAt).count(); }
  std::size_t Commands() const { return commandsAtSummary - commandsAtPin; }

  UINT lastMessage = 0;
  Clock::time_point pinAt, summaryAt;
  std::size_t commandsAtPin = 0, commandsAtSummary = 0;

 private:
  std::string m_pin;
  std::function<std::size_t()> m_commandCount;
};
