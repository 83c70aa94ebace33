// A user who answers from a script: every message, question and dialog is
// recorded, answers come from queues, and an empty queue answers as a user
// who cancels. `afterModal` runs when a modal box closes, as the window's
// activation does in the application.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "document/UserInterface.h"

namespace velmora::test {

class ScriptedUI : public UserInterface {
 public:
  struct Shown {
    std::string what;  // "message", "question", "open", "save", "color", "jpeg quality"
    std::string text;  // the message, the question, the dialog's title or the quality shown
  };

  void ShowMessage(const std::string& text, MessageKind kind) override {
    shown.push_back({"message", text});
    kinds.push_back(kind);
    Closed();
  }
  Answer AskYesNoCancel(const std::string& text) override {
    shown.push_back({"question", text});
    Answer a = Answer::Cancel;
    if (!answers.empty()) {
      a = answers.front();
      answers.pop_front();
    }
    Closed();
    return a;
  }
  std::string GetOpenFileName(const std::string& title, const std::vector<FileFilter>& filters,
                              int filterIndex) override {
    shown.push_back({"open", title});
    lastFilters = filters;
    lastFilterIndex = filterIndex;
    return NextPath();
  }
  std::string GetSaveFileName(const std::string& title, const std::vector<FileFilter>& filters, int& filterIndex,
                              const std::string&) override {
    shown.push_back({"save", title});
    lastFilters = filters;
    lastFilterIndex = filterIndex;
    return NextPath();
  }
  bool ChooseColor(Color& color) override {
    shown.push_back({"color", {}});
    bool ok = false;
    if (!colors.empty()) {
      ok = true;
      color = colors.front();
      colors.pop_front();
    }
    Closed();
    return ok;
  }
  int AskJpegQuality(int quality) override {
    shown.push_back({"jpeg quality", std::to_string(quality)});
    if (!qualities.empty()) {
      quality = qualities.front();
      qualities.pop_front();
    }
    Closed();
    return quality;
  }
  void ProcessPendingEvents() override { ++eventRuns; }

  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const auto& s : shown)
      if (s.what == "message") out.push_back(s.text);
    return out;
  }

  std::deque<Answer> answers;
  std::deque<std::string> paths;
  std::deque<Color> colors;   // an empty queue cancels the colour dialog
  std::deque<int> qualities;  // an empty queue keeps the quality shown
  std::vector<Shown> shown;
  std::vector<MessageKind> kinds;
  std::vector<FileFilter> lastFilters;
  int lastFilterIndex = -1;
  int eventRuns = 0;
  std::function<void()> afterModal;

 private:
  std::string NextPath() {
    std::string p;
    if (!paths.empty()) {
      p = paths.front();
      paths.pop_front();
    }
    Closed();
    return p;
  }
  void Closed() {
    if (afterModal) afterModal();
  }
};

}  // namespace velmora::test
