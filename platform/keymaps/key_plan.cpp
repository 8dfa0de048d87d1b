// The key plan of a keymap (see key_plan.h).
#include "platform/keymaps/key_plan.h"
#include "platform/trace.h"
#include "platform/keymaps/vk_keysyms.h"

#include <bit>
#include <linux/input.h>
#include <string>
#include <unordered_map>
#include <xkbcommon/xkbcommon.h>

namespace {

// XKB keycodes are evdev codes plus 8.
constexpr unsigned kEvdevOffset = 8;

bool IsKeypad(xkb_keysym_t sym) { return sym >= XKB_KEY_KP_Space && sym <= XKB_KEY_KP_Equal; }

// The keys that hold each real modifier: for every modifier bit, the first
// key that sets exactly that modifier while held (a lock or latch key sets
// none and is never used). The usual modifier keys are looked at first, so
// that Shift is the left Shift and level 3 is AltGr where the layout has it.
void FindModifierKeys(xkb_keymap *keymap, uint16_t (&keyOfMod)[32]) {
  static constexpr uint16_t kPreferred[] = {KEY_LEFTSHIFT, KEY_LEFTCTRL,  KEY_RIGHTALT,
                                            KEY_LEFTALT,   KEY_LEFTMETA,  KEY_RIGHTSHIFT,
                                            KEY_RIGHTCTRL, KEY_RIGHTMETA, KEY_102ND};
  std::vector<xkb_keycode_t> order;
  for (uint16_t k : kPreferred)
    order.push_back(k + kEvdevOffset);
  for (xkb_keycode_t kc = xkb_keymap_min_keycode(keymap); kc <= xkb_keymap_max_keycode(keymap);
       ++kc)
    order.push_back(kc);
  for (xkb_keycode_t kc : order) {
    if (kc < xkb_keymap_min_keycode(keymap) || kc > xkb_keymap_max_keycode(keymap) ||
        kc < kEvdevOffset || kc - kEvdevOffset > KEY_MAX)
      continue;
    xkb_state *state = xkb_state_new(keymap);
    if (!state)
      return;
    xkb_state_update_key(state, kc, XKB_KEY_DOWN);
    xkb_mod_mask_t held = xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED);
    // Caps lock also holds Lock while down, but leaves it locked after.
    xkb_mod_mask_t kept = xkb_state_serialize_mods(
        state, static_cast<xkb_state_component>(XKB_STATE_MODS_LATCHED | XKB_STATE_MODS_LOCKED));
    xkb_state_unref(state);
    if (std::popcount(held) != 1 || kept != 0)
      continue;
    int bit = std::countr_zero(held);
    if (!keyOfMod[bit])
      keyOfMod[bit] = static_cast<uint16_t>(kc - kEvdevOffset);
  }
}

// A candidate stroke's rank: keypad keys after the main block, then fewer
// modifiers first.
int Rank(bool keypad, unsigned modCount) { return (keypad ? 8 : 0) + static_cast<int>(modCount); }

} // namespace

void KeyPlan::Build(xkb_keymap *keymap) {
  chars_.clear();
  for (uint16_t &k : vkKeys_)
    k = 0;
  uint16_t keyOfMod[32] = {};
  FindModifierKeys(keymap, keyOfMod);

  std::unordered_map<uint32_t, int> rankOf;
  std::unordered_map<xkb_keysym_t, uint16_t> firstLevelKey;
  for (xkb_keycode_t kc = xkb_keymap_max_keycode(keymap);
       kc >= xkb_keymap_min_keycode(keymap) && kc >= kEvdevOffset; --kc) {
    if (kc - kEvdevOffset > KEY_MAX || xkb_keymap_num_layouts_for_key(keymap, kc) == 0)
      continue;
    const uint16_t key = static_cast<uint16_t>(kc - kEvdevOffset);
    const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, kc, 0);
    for (xkb_level_index_t level = 0; level < levels; ++level) {
      const xkb_keysym_t *syms = nullptr;
      if (xkb_keymap_key_get_syms_by_level(keymap, kc, 0, level, &syms) != 1)
        continue;
      if (level == 0)
        firstLevelKey[syms[0]] = key; // walking down: the lowest keycode stays
      const uint32_t cp = xkb_keysym_to_utf32(syms[0]);
      if (cp == 0)
        continue;
      xkb_mod_mask_t masks[16];
      size_t n = xkb_keymap_key_get_mods_for_level(keymap, kc, 0, level, masks, 16);
      for (size_t m = 0; m < n; ++m) {
        KeyStroke stroke;
        stroke.key = key;
        bool holdable = std::popcount(masks[m]) <= 3;
        for (int bit = 0; bit < 32 && holdable; ++bit) {
          if (!(masks[m] & (1u << bit)))
            continue;
          if (!keyOfMod[bit])
            holdable = false;
          else
            stroke.mods[stroke.modCount++] = keyOfMod[bit];
        }
        if (!holdable)
          continue;
        const int rank = Rank(IsKeypad(syms[0]), stroke.modCount);
        auto it = rankOf.find(cp);
        // Equal rank: the lower keycode, met later in this downward walk.
        if (it != rankOf.end() && it->second < rank)
          continue;
        rankOf[cp] = rank;
        chars_[cp] = stroke;
      }
    }
  }

  chars_.erase(10); // typed as 13, Enter

  for (unsigned vk = 1; vk < 256; ++vk) {
    VkKeysyms syms = VkToKeysyms(static_cast<BYTE>(vk));
    auto it = syms.base ? firstLevelKey.find(static_cast<xkb_keysym_t>(syms.base))
                        : firstLevelKey.end();
    vkKeys_[vk] = static_cast<uint16_t>(it != firstLevelKey.end() ? it->second
                                                                  : UinputKeyForVk(static_cast<BYTE>(vk)));
  }

  const xkb_mod_index_t ctrl = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CTRL);
  const xkb_mod_index_t shift = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
  ctrlKey_ = ctrl < 32 && keyOfMod[ctrl] ? keyOfMod[ctrl] : KEY_LEFTCTRL;
  shiftKey_ = shift < 32 && keyOfMod[shift] ? keyOfMod[shift] : KEY_LEFTSHIFT;
  for (unsigned d = 0; d < 16; ++d)
    hexDigits_[d] = StrokeOrUs(static_cast<uint32_t>("0123456789abcdef"[d]));
  u_ = StrokeOrUs('u');
  space_ = StrokeOrUs(' ');
}

const KeyStroke *KeyPlan::ForChar(uint32_t cp) const {
  if (cp == 10)
    cp = 13;
  auto it = chars_.find(cp);
  return it == chars_.end() ? nullptr : &it->second;
}

KeyStroke KeyPlan::StrokeOrUs(uint32_t cp) const {
  if (const KeyStroke *s = ForChar(cp))
    return *s;
  // A layout without Latin letters (Cyrillic, Greek): the US position, which
  // input methods read through the layout's Latin fallback.
  KeyStroke s;
  BYTE vk = static_cast<BYTE>(cp >= 'a' && cp <= 'z' ? cp - 'a' + 'A' : cp);
  s.key = static_cast<uint16_t>(UinputKeyForVk(vk));
  return s;
}

void KeyPlan::AppendStroke(std::vector<KeyInputEvent> &out, const KeyStroke &s) const {
  for (unsigned i = 0; i < s.modCount; ++i)
    AppendKeyEvent(out, s.mods[i], true);
  AppendKeyEvent(out, s.key, true);
  AppendKeyEvent(out, s.key, false);
  for (unsigned i = s.modCount; i-- > 0;)
    AppendKeyEvent(out, s.mods[i], false);
}

bool KeyPlan::AppendCharacter(std::vector<KeyInputEvent> &out, uint32_t cp) const {
  if (const KeyStroke *s = ForChar(cp)) {
    AppendStroke(out, *s);
    return true;
  }
  if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || (cp >= 0xD800 && cp < 0xE000) || cp >= 0x110000)
    return false;
  // Ctrl+Shift+U starts hexadecimal entry (GTK, IBus); the digits follow
  // with those released, each by the layout's own key, and Space ends it.
  AppendKeyEvent(out, ctrlKey_, true);
  AppendKeyEvent(out, shiftKey_, true);
  AppendKeyEvent(out, u_.key, true);
  AppendKeyEvent(out, u_.key, false);
  AppendKeyEvent(out, shiftKey_, false);
  AppendKeyEvent(out, ctrlKey_, false);
  bool started = false;
  for (int shift = 20; shift >= 0; shift -= 4) {
    unsigned digit = (cp >> shift) & 0xF;
    if (!digit && !started && shift)
      continue;
    started = true;
    AppendStroke(out, hexDigits_[digit]);
  }
  AppendStroke(out, space_);
  return true;
}

bool PlanForNames(const XkbNames &names, KeyPlan &plan) {
  xkb_context *ctx = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  if (!ctx)
    return false;
  auto field = [](const std::string &s) { return s.empty() ? nullptr : s.c_str(); };
  xkb_rule_names rmlvo{field(names.rules), field(names.model), field(names.layout),
                       field(names.variant), field(names.options)};
  xkb_keymap *keymap = xkb_keymap_new_from_names(ctx, &rmlvo, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap) {
    plan.Build(keymap);
    xkb_keymap_unref(keymap);
  }
  xkb_context_unref(ctx);
  return keymap != nullptr;
}

bool PlanSessionLayout(KeyPlan &plan, const char *who) {
  XkbNames names = HostXkbNames();
  bool planned = PlanForNames(names, plan);
  if (!planned) {
    PlatformTrace("inject: %s: keymap layout=%s variant=%s cannot be compiled; using us", who,
                  names.layout.c_str(), names.variant.c_str());
    planned = PlanForNames(XkbNames{"", "", "us", "", "", "us"}, plan);
  }
  if (planned)
    PlatformTrace("inject: %s types by the layout's keys (%zu characters on keys; others "
                  "through Ctrl+Shift+U)",
                  who, plan.Chars().size());
  else
    PlatformTrace("inject: %s: no XKB keymap can be compiled; typing by US key positions", who);
  return planned;
}

unsigned SessionKeys::KeyForVk(BYTE vk) const { return planned_ ? plan_.KeyForVk(vk) : UinputKeyForVk(vk); }

bool SessionKeys::AppendCharacters(std::vector<KeyInputEvent> &out,
                                   const std::vector<uint32_t> &codePoints) const {
  bool any = false;
  for (uint32_t cp : codePoints) {
    if (planned_ ? plan_.AppendCharacter(out, cp) : AppendCharacter(out, cp))
      any = true;
    else
      PlatformTrace("inject: %s cannot type U+%04X", who_, cp);
  }
  return any;
}
