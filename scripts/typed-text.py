#!/usr/bin/env python3
"""Prints the text a run typed through the `log` injector.

    scripts/typed-text.py LOG

LOG holds one JSON object per injected call: PostKeybdMessage calls carry the
characters, keybd_event calls a virtual key (Shift and Caps Lock followed;
letters, space and Enter as text, any other key as "<vk N>"). A missing LOG
reads as nothing typed.
"""
import json
import sys


def typed_text(lines):
    text, shift, caps = "", False, False
    for line in lines:
        try:
            call = json.loads(line)
        except ValueError:
            continue
        if call.get("call") == "PostKeybdMessage":
            text += "".join(chr(c) for c in call.get("chars", []))
        elif call.get("call") == "keybd_event":
            vk, up = call.get("vk", 0), bool(call.get("flags", 0) & 2)
            if vk == 0x10:
                shift = not up
            elif vk == 0x14 and not up:
                caps = not caps
            elif not up and 65 <= vk <= 90:
                text += chr(vk if shift != caps else vk + 32)
            elif not up and vk == 32:
                text += " "
            elif not up and vk == 13:
                text += "\n"
            elif not up:
                text += "<vk %d>" % vk
    return text


if __name__ == "__main__":
    try:
        with open(sys.argv[1], encoding="utf-8") as f:
            log = f.read().splitlines()
    except OSError:
        log = []
    print(typed_text(log))
