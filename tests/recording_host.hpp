#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/run_host.hpp"

namespace tavrin {

// A RunHost for tests: it plays the window's fields, records everything the
// run shows and answers line reports from a list (Yes once the list is used up).
class RecordingHost : public RunHost {
 public:
  std::string separator = ",";
  std::string inputFileName;
  std::string outputFileName;
  bool unbuild = false;
  std::vector<bool> answers;
  bool person = false;  // answers as a person would: asksAPerson
  bool stopAtWarnings = false;
  std::function<void(std::size_t)> beforeAnswer;  // called with each question's index

  std::vector<std::string> separatorsSet;
  std::vector<std::string> statusTexts;
  int refreshes = 0;
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::vector<std::string> warnings;  // "title: text"
  int incompleteOutputs = 0;

  std::string GetSeparator() override { return separator; }
  void SetSeparator(std::string_view text) override {
    separator = text;
    separatorsSet.emplace_back(text);
  }
  std::string GetInputFileName() override { return inputFileName; }
  std::string GetOutputFileName() override { return outputFileName; }
  bool IsUnbuildChecked() override { return unbuild; }
  void SetStatusText(std::string_view text) override { statusTexts.emplace_back(text); }
  void RefreshStatus() override { ++refreshes; }
  void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
  bool asksAPerson() override { return person; }
  void outputIncomplete() override { ++incompleteOutputs; }
  bool goOnAfterWarning() override { return !stopAtWarnings; }
  bool AskYesNo(std::string_view text) override {
    if (beforeAnswer) beforeAnswer(questions.size());
    const bool answer = questions.size() < answers.size() ? answers[questions.size()] : true;
    questions.emplace_back(text);
    return answer;
  }
  void ShowWarning(std::string_view text, std::string_view title) override {
    warnings.push_back(std::string(title) + ": " + std::string(text));
  }
};

}  // namespace tavrin
