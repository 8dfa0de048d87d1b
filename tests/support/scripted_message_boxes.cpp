#include "tests/support/scripted_message_boxes.h"

namespace testsupport {

ScriptedMessageBoxes::ScriptedMessageBoxes(std::initializer_list<int> answers) : answers_(answers) {
  SetMessageBoxPresenter(&Present, this);
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() { SetMessageBoxPresenter(restore_, nullptr); }

void ScriptedMessageBoxes::Answer(std::vector<int> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.assign(answers.begin(), answers.end());
  shown_.clear();
}

void ScriptedMessageBoxes::ForgetActions() {
  std::lock_guard<std::mutex> lock(mutex_);
  during_.clear();
}

void ScriptedMessageBoxes::OtherwiseAnswer(int answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  otherwise_ = answer;
}

void ScriptedMessageBoxes::During(size_t index, std::function<void()> action) {
  std::lock_guard<std::mutex> lock(mutex_);
  during_[index] = std::move(action);
}

void ScriptedMessageBoxes::DuringEach(std::function<void(size_t)> action) {
  std::lock_guard<std::mutex> lock(mutex_);
  duringEach_ = std::move(action);
}

std::vector<ShownBox> ScriptedMessageBoxes::Shown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shown_;
}

size_t ScriptedMessageBoxes::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shown_.size();
}

int ScriptedMessageBoxes::Present(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type,
                                  void *context) {
  auto *self = static_cast<ScriptedMessageBoxes *>(context);
  int answer = (type & 0x0F) == MB_YESNO ? IDNO : IDOK;
  size_t index;
  std::function<void()> during;
  std::function<void(size_t)> each;
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    index = self->shown_.size();
    WCHAR yesVerb[64] = {}, noVerb[64] = {};
    MessageBoxVerbs(text, yesVerb, noVerb, 64);
    self->shown_.push_back({owner, text ? text : u"", caption ? caption : u"", type, yesVerb, noVerb});
    if (!self->answers_.empty()) {
      answer = self->answers_.front();
      self->answers_.pop_front();
    } else if (self->otherwise_ != 0) {
      answer = self->otherwise_;
    }
    if (auto it = self->during_.find(index); it != self->during_.end())
      during = it->second;
    each = self->duringEach_;
  }
  // The actions run without the lock: they may show boxes themselves.
  if (each)
    each(index);
  if (during)
    during();
  if (self->dispatch_) {
    int exitCode = 0;
    PumpThreadMessages(&exitCode);
  }
  return answer;
}

} // namespace testsupport
