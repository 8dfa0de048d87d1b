// Message boxes answered from a script instead of a user, and recorded.
//
// While a ScriptedMessageBoxes object lives it is the program's message box
// presenter (one at a time); its destructor installs `restore` (by default
// none: boxes are then traced and answered as the platform does without a
// presenter). Boxes may be shown from any thread; the record is kept under a
// lock and handed out as copies. Nothing here needs the desktop toolkit.
#pragma once

#include "platform/window.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

struct ShownBox {
  HWND owner;
  std::u16string text;
  std::u16string caption;
  UINT type;
  // The verbs of a question asked with them (AskWithVerbsW); else empty.
  std::u16string yesVerb;
  std::u16string noVerb;
};

class ScriptedMessageBoxes {
public:
  // Boxes get `answers` in order; once they are used up, a box gets the
  // OtherwiseAnswer, by default IDOK (IDNO when it asks Yes or No) as
  // without a presenter.
  explicit ScriptedMessageBoxes(std::initializer_list<int> answers = {});
  ~ScriptedMessageBoxes();
  ScriptedMessageBoxes(const ScriptedMessageBoxes &) = delete;
  ScriptedMessageBoxes &operator=(const ScriptedMessageBoxes &) = delete;

  // New answers, replacing those not used yet; forgets the boxes shown so
  // far (their numbering starts again at 0). The actions stay.
  void Answer(std::vector<int> answers);
  // The answer of every box once the scripted answers are used up (0: the
  // default above).
  void OtherwiseAnswer(int answer);
  // An action run on the showing thread while box `index` (from 0) is up,
  // before it is answered.
  void During(size_t index, std::function<void()> action);
  // Drops the During actions.
  void ForgetActions();
  // An action run while every box is up (before any During action), given
  // the box's index.
  void DuringEach(std::function<void(size_t index)> action);
  // Whether an open box keeps dispatching the showing thread's messages as
  // a modal box does (once, after the actions). Off unless set.
  void DispatchWhileShown(bool on) { dispatch_ = on; }
  // The presenter the destructor installs (for a toolkit's own presenter).
  void RestoreOnExit(MessageBoxPresenter presenter) { restore_ = presenter; }

  std::vector<ShownBox> Shown() const;
  size_t Count() const;

private:
  static int Present(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type, void *self);

  mutable std::mutex mutex_;
  std::deque<int> answers_;
  int otherwise_ = 0;
  std::vector<ShownBox> shown_;
  std::map<size_t, std::function<void()>> during_;
  std::function<void(size_t)> duringEach_;
  bool dispatch_ = false;
  MessageBoxPresenter restore_ = nullptr;
};

} // namespace testsupport
