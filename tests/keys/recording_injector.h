// Test support for everything that injects keys: a recording injection
// backend and a host model that turns the recorded calls into the text a
// US-keymap host would show. Header-only, so that any test can reuse it.
//
// RecordingInjector installs itself as the injection backend for its
// lifetime and keeps every call, with all arguments, in `calls`. Each call
// also has a short text form (describe) that names the building blocks the
// key logic uses when their arguments are exactly right ("press 0x10",
// "release 0x41", "char 233", "backspace", "euro", "keydown 0x41"); any other
// arguments are spelled out in full, so a wrong flag or extra value shows.
#pragma once

#include "platform/inject.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace keytest {

struct InjectCall {
  enum Kind { kKeybdEvent, kPostKeybdMessage, kSendInput } kind = kKeybdEvent;
  // keybd_event
  BYTE vk = 0;
  BYTE scan = 0;
  DWORD flags = 0;
  DWORD extraInfo = 0;
  // PostKeybdMessage
  intptr_t hwnd = 0;
  UINT postVk = 0;
  UINT keyStateFlags = 0;
  std::vector<UINT> shiftStates;
  std::vector<UINT> chars;
  // SendInput
  int cbSize = 0;
  std::vector<INPUT> inputs;
};

inline std::string hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

inline std::string describe(const InjectCall &c) {
  switch (c.kind) {
  case InjectCall::kKeybdEvent:
    if (c.scan == 0 && c.flags == 4 && c.extraInfo == 1)
      return "press " + hex(c.vk);
    if (c.scan == 0 && c.flags == 6 && c.extraInfo == 0xC0000001u)
      return "release " + hex(c.vk);
    return "keybd_event " + hex(c.vk) + " " + std::to_string(c.scan) + " " + hex(c.flags) + " " +
           hex(c.extraInfo);
  case InjectCall::kPostKeybdMessage: {
    const bool one = c.hwnd == -1 && c.chars.size() == 1 && c.shiftStates.size() == 1;
    if (one && c.keyStateFlags == 1 && c.shiftStates[0] == 1 && c.postVk == c.chars[0])
      return "char " + std::to_string(c.chars[0]);
    if (one && c.postVk == 8 && c.keyStateFlags == 0x20000080u &&
        c.shiftStates[0] == 0x20000080u && c.chars[0] == 8)
      return "backspace";
    if (one && c.postVk == 8364 && c.keyStateFlags == 0x80 && c.shiftStates[0] == 0x80 &&
        c.chars[0] == 8364)
      return "euro";
    std::string text = "PostKeybdMessage " + std::to_string(c.hwnd) + " " +
                       std::to_string(c.postVk) + " " + hex(c.keyStateFlags) + " {";
    for (UINT s : c.shiftStates)
      text += " " + hex(s);
    text += " } {";
    for (UINT ch : c.chars)
      text += " " + std::to_string(ch);
    return text + " }";
  }
  case InjectCall::kSendInput:
    if (c.inputs.size() == 1 && c.cbSize == 28 && c.inputs[0].type == INPUT_KEYBOARD &&
        c.inputs[0].ki.wScan == 0 && c.inputs[0].ki.dwFlags == 4 && c.inputs[0].ki.time == 0 &&
        c.inputs[0].ki.dwExtraInfo == 0)
      return "keydown " + hex(c.inputs[0].ki.wVk);
    {
      std::string text = "SendInput size " + std::to_string(c.cbSize);
      for (const INPUT &in : c.inputs)
        text += " {type " + std::to_string(in.type) + " vk " + hex(in.ki.wVk) + " scan " +
                std::to_string(in.ki.wScan) + " flags " + hex(in.ki.dwFlags) + " time " +
                std::to_string(in.ki.time) + " extra " +
                std::to_string(static_cast<unsigned long long>(in.ki.dwExtraInfo)) + "}";
      return text;
    }
  }
  return "?";
}

class RecordingInjector {
public:
  RecordingInjector() {
    ops_.name = "recording";
    ops_.keybdEvent = &keybdEvent;
    ops_.postKeybdMessage = &postKeybdMessage;
    ops_.sendInput = &sendInput;
    ops_.self = this;
    InjectSetBackend(&ops_);
  }
  ~RecordingInjector() { InjectSetBackend(nullptr); }
  RecordingInjector(const RecordingInjector &) = delete;
  RecordingInjector &operator=(const RecordingInjector &) = delete;

  std::vector<std::string> described() const {
    std::vector<std::string> out;
    for (const InjectCall &c : calls)
      out.push_back(describe(c));
    return out;
  }
  void clear() { calls.clear(); }

  std::vector<InjectCall> calls;

private:
  static void keybdEvent(void *self, BYTE vk, BYTE scan, DWORD flags, DWORD extraInfo) {
    InjectCall c;
    c.kind = InjectCall::kKeybdEvent;
    c.vk = vk;
    c.scan = scan;
    c.flags = flags;
    c.extraInfo = extraInfo;
    static_cast<RecordingInjector *>(self)->calls.push_back(c);
  }
  static BOOL postKeybdMessage(void *self, HWND hwnd, UINT vk, UINT keyStateFlags, UINT count,
                               const UINT *shiftStates, const UINT *chars) {
    InjectCall c;
    c.kind = InjectCall::kPostKeybdMessage;
    c.hwnd = reinterpret_cast<intptr_t>(hwnd);
    c.postVk = vk;
    c.keyStateFlags = keyStateFlags;
    for (UINT i = 0; i < count; ++i) {
      if (shiftStates)
        c.shiftStates.push_back(shiftStates[i]);
      c.chars.push_back(chars[i]);
    }
    static_cast<RecordingInjector *>(self)->calls.push_back(c);
    return TRUE;
  }
  static UINT sendInput(void *self, UINT count, const INPUT *inputs, int cbSize) {
    InjectCall c;
    c.kind = InjectCall::kSendInput;
    c.cbSize = cbSize;
    c.inputs.assign(inputs, inputs + count);
    static_cast<RecordingInjector *>(self)->calls.push_back(c);
    return count;
  }

  InjectOps ops_{};
};

// What a host with a US keymap shows for a sequence of calls: Shift and caps
// lock are tracked from their key events (caps lock toggles on its press),
// letter, digit, space, Enter, Tab and the punctuation virtual keys become
// their characters, posted characters are appended, and Backspace (posted or
// as a key) erases the last character. The text is UTF-32.
class UsHostModel {
public:
  std::u32string type(const std::vector<InjectCall> &calls) {
    for (const InjectCall &c : calls)
      apply(c);
    return text;
  }

  std::u32string text;
  bool shiftDown = false;
  bool capsOn = false;

private:
  void apply(const InjectCall &c) {
    switch (c.kind) {
    case InjectCall::kKeybdEvent: {
      const bool up = (c.flags & KEYEVENTF_KEYUP) != 0;
      if (c.vk == VK_SHIFT)
        shiftDown = !up;
      else if (c.vk == VK_CAPITAL && !up)
        capsOn = !capsOn;
      else if (!up)
        key(c.vk);
      break;
    }
    case InjectCall::kPostKeybdMessage:
      for (UINT ch : c.chars)
        ch == 8 ? erase() : text.push_back(static_cast<char32_t>(ch));
      break;
    case InjectCall::kSendInput:
      for (const INPUT &in : c.inputs)
        if (!(in.ki.dwFlags & KEYEVENTF_KEYUP))
          key(static_cast<BYTE>(in.ki.wVk));
      break;
    }
  }

  void erase() {
    if (!text.empty())
      text.pop_back();
  }

  void key(BYTE vk) {
    if (vk >= 'A' && vk <= 'Z') {
      text.push_back(static_cast<char32_t>(shiftDown != capsOn ? vk : vk + 32));
      return;
    }
    static const char kDigitsShifted[] = ")!@#$%^&*(";
    if (vk >= '0' && vk <= '9') {
      text.push_back(static_cast<char32_t>(shiftDown ? kDigitsShifted[vk - '0'] : vk));
      return;
    }
    switch (vk) {
    case VK_BACK: erase(); break;
    case VK_SPACE: text.push_back(U' '); break;
    case VK_RETURN: text.push_back(U'\n'); break;
    case VK_TAB: text.push_back(U'\t'); break;
    case VK_OEM_3: text.push_back(shiftDown ? U'~' : U'`'); break;
    default: break; // keys that type nothing (arrows, Esc, Delete, ...)
    }
  }
};

} // namespace keytest
