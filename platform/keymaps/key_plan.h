// Which key, with which modifier keys held, types each character and virtual
// key on a given XKB keymap: the plan the uinput and portal backends type by,
// worked out once per keymap so that typing a key only looks it up. Keys are
// evdev codes (KEY_* of linux/input-event-codes.h), as the virtual keyboard
// sends them; the keymap's first layout (group) is the one planned for.
#pragma once

#include "platform/keymaps/host_layout.h"
#include "platform/keymaps/key_events.h"
#include "platform/wintypes.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

struct xkb_keymap;

struct KeyStroke {
  uint16_t key = 0;       // 0: none
  uint8_t modCount = 0;   // modifier keys held around the key
  uint16_t mods[3] = {};  // their evdev codes, pressed in this order
};

class KeyPlan {
public:
  // Plans for keymap (not kept). Characters come from the keysyms of each
  // key's levels in the first layout; a level is used when the modifiers
  // that select it can all be held by keys of the keymap (Shift, AltGr as
  // level 3, level 5, ...), with the fewest modifiers and main-block keys
  // before the keypad. Virtual keys go to the key carrying their keysym at
  // the first level, else to their US key position.
  void Build(xkb_keymap *keymap);

  // The stroke typing code point cp (10 is typed as 13, Enter), or nullptr
  // when no key of the layout types it.
  const KeyStroke *ForChar(uint32_t cp) const;
  // The key of virtual key vk; 0 when it has none.
  unsigned KeyForVk(BYTE vk) const { return vkKeys_[vk]; }
  // Every planned character (for tests and the trace).
  const std::unordered_map<uint32_t, KeyStroke> &Chars() const { return chars_; }

  // Appends what types cp: its stroke, or, for a character the layout
  // lacks, Ctrl+Shift+U, the hexadecimal digits typed by the layout's own
  // keys (US positions where the layout has no such character) and Space.
  // Returns false (appending nothing) for 0, other control characters,
  // surrogates and values beyond Unicode.
  bool AppendCharacter(std::vector<KeyInputEvent> &out, uint32_t cp) const;

private:
  void AppendStroke(std::vector<KeyInputEvent> &out, const KeyStroke &s) const;
  KeyStroke StrokeOrUs(uint32_t cp) const;

  std::unordered_map<uint32_t, KeyStroke> chars_;
  uint16_t vkKeys_[256] = {};
  uint16_t ctrlKey_ = 0, shiftKey_ = 0;
  KeyStroke hexDigits_[16], u_, space_;
};

// Compiles the keymap names give (xkbcommon, the system's XKB data) and
// plans for it. Returns false, plan untouched, when it cannot be compiled.
bool PlanForNames(const XkbNames &names, KeyPlan &plan);
// Plans for the layout of the person's session (HostXkbNames); when it
// cannot be compiled, for the US layout. Returns false when not even that
// compiles (keys then go by US positions). The trace lines name who.
bool PlanSessionLayout(KeyPlan &plan, const char *who);

// The keys of the person's session as a backend that sends evdev key events
// uses them: the session's plan where one compiled, else the US positions.
// `who` names the backend in trace lines; it must outlive this object.
class SessionKeys {
public:
  explicit SessionKeys(const char *who) : who_(who) {}
  // Plans for the session's layout (PlanSessionLayout).
  void Plan() { planned_ = PlanSessionLayout(plan_, who_); }
  // The evdev key of virtual key vk, 0 when there is none.
  unsigned KeyForVk(BYTE vk) const;
  // Appends the events that type codePoints to out; a character that
  // cannot be typed is left out with a trace line. Returns whether any
  // could be typed.
  bool AppendCharacters(std::vector<KeyInputEvent> &out, const std::vector<uint32_t> &codePoints) const;

private:
  const char *who_;
  KeyPlan plan_;
  bool planned_ = false;
};
