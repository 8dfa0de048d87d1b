#!/usr/bin/env python3
"""Writes the keyboard layout files (data/*.kcod) from the key tables below.

    make_layouts.py [--check] [OUTDIR]

OUTDIR defaults to the data/ folder of the source tree. With --check nothing
is written: the files in OUTDIR are compared with what would be written, and
the exit status is 1 when any differs.

A layout file holds 128 rows of 30 layout codes (one row per scancode, one
line per row), then the battery thresholds and the values of the three
typing-setting option lists. Codes by column:

    0 plain   1 with Shift   2 with caps lock
    4..11  AltGr alternatives (a dead key in 4 makes AltGr start an accent)
    12..19 AltGr alternatives under caps lock
    20 grave  21 acute  22 circumflex  23 tilde       (after dead keys 4003, 4004, 4002, 4001)
    25 grave  26 acute  27 circumflex  28 tilde, capital forms
                        (after 4008, 4009, 4007, 4006, and after the first four under caps lock)

Codes: 1..999 virtual key, 1000+vk the key with Shift, 2000+c the character
c (c below 1000), 8364 the euro sign (AltGr and accent columns only).

Letters and control keys are virtual keys, so that shortcuts work; every
other character is sent as a character, so that the host's own keymap does
not change what the layout says. Digits are virtual keys where the language
types them unshifted.
"""

import os
import sys

ROWS = 128
COLUMNS = 30
READ_LIMIT = 15000  # the program reads no more of a layout file

COL_NORMAL, COL_SHIFT, COL_CAPS = 0, 1, 2
COL_ALTGR, COL_ALTGR_CAPS, ALTGR_COUNT = 4, 12, 8
ACCENT_COLUMN = {'grave': 20, 'acute': 21, 'circumflex': 22, 'tilde': 23}
CAPS_ACCENT_SHIFT = 5
DEAD_KEY = {
    'grave': 4003, 'acute': 4004, 'circumflex': 4002, 'tilde': 4001,
    # The capital forms' dead keys read the columns 5 further on.
    'Grave': 4008, 'Acute': 4009, 'Circumflex': 4007, 'Tilde': 4006,
}
EURO = '\u20ac'
EURO_CODE = 8364

# The keyboard's scancodes by key.
SCANCODE = {'Backspace': 8, 'Tab': 9, 'Enter': 13, 'Esc': 27, 'Space': 32,
            'Delete': 127, 'Up': 20, 'Down': 21, 'Left': 22, 'Right': 23}
SCANCODE.update({c: ord(c) for c in 'ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789'})
SCANCODE.update({c: ord(c) for c in "#',-./;=[\\]`"})

# Virtual keys of the control keys.
CONTROL_VK = {'Backspace': 0x08, 'Tab': 0x09, 'Enter': 0x0D, 'Esc': 0x1B, 'Space': 0x20,
              'Delete': 0x2E, 'Up': 0x26, 'Down': 0x28, 'Left': 0x25, 'Right': 0x27}


class VK:
    """A virtual key in a key table (a letter or digit key of the host)."""

    def __init__(self, code):
        self.code = code


def char_code(c, special_ok=False):
    if c == EURO and special_ok:
        return EURO_CODE
    if len(c) != 1 or ord(c) >= 1000:
        raise ValueError('character %r cannot be carried by a layout code' % c)
    return 2000 + ord(c)


def code_of(value):
    """Layout code of a plain, Shift or caps entry."""
    if value is None or value == '':
        return 0
    if isinstance(value, VK):
        return value.code
    if value.startswith('dead:'):
        return DEAD_KEY[value[5:]]
    return char_code(value)


def capital(c):
    up = c.upper()
    return up if len(up) == 1 and (ord(up) < 1000 or up == EURO) else c


class Layout:
    """keys: key -> (plain, shifted[, caps lock]); caps lock defaults to plain.
    altgr: key -> the alternatives in order (capitals derived unless given in
    altgr_caps). altgr_dead: key -> dead key started by AltGr. accents: accent
    -> (spacing form, 'base accented' pairs); capitals derived."""

    def __init__(self, file_name, keys, altgr=None, altgr_caps=None, altgr_dead=None,
                 accents=None, digits_as_keys=True):
        self.file_name = file_name
        self.keys = keys
        self.altgr = altgr or {}
        self.altgr_caps = altgr_caps or {}
        self.altgr_dead = altgr_dead or {}
        self.accents = accents or {}
        self.digits_as_keys = digits_as_keys

    def grid(self):
        rows = [[0] * COLUMNS for _ in range(ROWS)]
        for name, vk in CONTROL_VK.items():
            row = rows[SCANCODE[name]]
            row[COL_NORMAL], row[COL_SHIFT], row[COL_CAPS] = vk, 1000 + vk, vk
        for letter in 'ABCDEFGHIJKLMNOPQRSTUVWXYZ':
            row = rows[SCANCODE[letter]]
            row[COL_NORMAL], row[COL_SHIFT], row[COL_CAPS] = ord(letter), 1000 + ord(letter), ord(letter)
        if self.digits_as_keys:
            for digit in '0123456789':
                row = rows[SCANCODE[digit]]
                row[COL_NORMAL], row[COL_CAPS] = ord(digit), ord(digit)
        for key, entry in self.keys.items():
            row = rows[SCANCODE[key]]
            plain, shifted = entry[0], entry[1]
            caps = entry[2] if len(entry) > 2 else plain
            row[COL_NORMAL], row[COL_SHIFT], row[COL_CAPS] = code_of(plain), code_of(shifted), code_of(caps)
        for key, alternatives in self.altgr.items():
            row = rows[SCANCODE[key]]
            caps = self.altgr_caps.get(key, ''.join(capital(c) for c in alternatives))
            for first, chars in ((COL_ALTGR, alternatives), (COL_ALTGR_CAPS, caps)):
                if len(chars) > ALTGR_COUNT:
                    raise ValueError('%s: more than %d AltGr alternatives' % (key, ALTGR_COUNT))
                for i, c in enumerate(chars):
                    row[first + i] = char_code(c, special_ok=True)
        for key, dead in self.altgr_dead.items():
            rows[SCANCODE[key]][COL_ALTGR] = DEAD_KEY[dead]
        for accent, (spacing, pairs) in self.accents.items():
            column = ACCENT_COLUMN[accent]
            forms = [('Space', spacing, spacing)]
            for pair in pairs.split():
                base, accented = pair[0], pair[1]
                forms.append((base.upper(), accented, capital(accented)))
            for key, small, big in forms:
                row = rows[SCANCODE[key]]
                row[column] = char_code(small, special_ok=True)
                row[column + CAPS_ACCENT_SHIFT] = char_code(big, special_ok=True)
        return rows


# Values that follow the key grid. The battery thresholds are battery bytes
# as the keyboard reports them (full, three steps, empty) for its nominal
# reference of 168; the option values are the keyboard's own setting bytes,
# entry 0 being the default and entries 1 on the levels offered.
BATTERY_THRESHOLDS = [165, 158, 151, 144, 130]
SENSITIVITY = [40, 20, 30, 40, 50]
REPEAT_RATE = [20, 10, 20, 30]
REPEAT_DELAY = [50, 25, 50, 75]


def render(layout):
    lines = [','.join(str(code) for code in row) for row in layout.grid()]
    # A word and a comma make the two ignored tokens before each section.
    lines.append('Battery,1')
    lines.append(','.join(map(str, BATTERY_THRESHOLDS)))
    lines.append('Sensitivity,')
    lines.append(','.join(map(str, SENSITIVITY)))
    lines.append('RepeatRate,')
    lines.append(','.join(map(str, REPEAT_RATE)))
    lines.append('RepeatDelay,')
    lines.append(','.join(map(str, REPEAT_DELAY)))
    data = ('\r\n'.join(lines) + '\r\n').encode('ascii')
    if len(data) > READ_LIMIT:
        raise ValueError('%s: %d bytes, more than the %d that are read'
                         % (layout.file_name, len(data), READ_LIMIT))
    return data


US_PUNCTUATION = {
    '`': ('`', '~'), '-': ('-', '_'), '=': ('=', '+'), '[': ('[', '{'), ']': (']', '}'),
    '\\': ('\\', '|'), ';': (';', ':'), "'": ("'", '"'), ',': (',', '<'), '.': ('.', '>'),
    '/': ('/', '?'), '#': ('#', '~'),
}
US_SHIFTED_DIGITS = {'1': '!', '2': '@', '3': '#', '4': '$', '5': '%', '6': '^', '7': '&',
                     '8': '*', '9': '(', '0': ')'}


def with_digits(shifted, punctuation):
    keys = dict(punctuation)
    for digit, symbol in shifted.items():
        keys[digit] = (VK(ord(digit)), symbol, VK(ord(digit)))
    return keys


US = Layout('US.kcod', with_digits(US_SHIFTED_DIGITS, US_PUNCTUATION))

UK_KEYS = with_digits(dict(US_SHIFTED_DIGITS, **{'2': '"', '3': '\u00a3'}), dict(
    US_PUNCTUATION, **{'`': ('`', '\u00ac'), "'": ("'", '@'), '#': ('#', '~'),
                       '\\': ('\\', '|')}))
UK = Layout('UK.kcod', UK_KEYS, altgr={
    '4': EURO, 'A': '\u00e1', 'E': '\u00e9', 'I': '\u00ed', 'O': '\u00f3', 'U': '\u00fa',
    '`': '\u00a6'})

# English with dead keys: back-quote is a dead grave (with Shift a dead
# tilde), the apostrophe a dead acute, Shift+6 a dead circumflex; AltGr on
# those keys gives the capital forms' dead keys. A dead key followed by a key
# without an accented form keeps the accent, so "'s" types as written.
INTL_ENGLISH_KEYS = with_digits(US_SHIFTED_DIGITS, US_PUNCTUATION)
INTL_ENGLISH_KEYS.update({
    '`': ('dead:grave', 'dead:tilde'),
    "'": ('dead:acute', '"'),
    '6': (VK(ord('6')), 'dead:circumflex', VK(ord('6'))),
})
INTL_ENGLISH = Layout(
    'Intl English.kcod', INTL_ENGLISH_KEYS,
    altgr={
        'A': '\u00e1\u00e0\u00e2\u00e4\u00e3\u00e5\u00e6',      # á à â ä ã å æ
        'E': '\u00e9\u00e8\u00ea\u00eb' + EURO,                 # é è ê ë €
        'I': '\u00ed\u00ec\u00ee\u00ef',                        # í ì î ï
        'O': '\u00f3\u00f2\u00f4\u00f6\u00f5\u00f8\u0153',      # ó ò ô ö õ ø œ
        'U': '\u00fa\u00f9\u00fb\u00fc',                        # ú ù û ü
        'N': '\u00f1',                                          # ñ
        'C': '\u00e7\u00a9',                                    # ç ©
        'S': '\u00df\u00a7',                                    # ß §
        'Y': '\u00fd\u00ff',                                    # ý ÿ
        '1': '\u00a1\u00b9',                                    # ¡ ¹
        '2': '\u00b2',                                          # ²
        '3': '\u00b3',                                          # ³
        '4': EURO + '\u00a3\u00a5',                             # € £ ¥
        '/': '\u00bf',                                          # ¿
        '-': '\u00b1',                                          # ±
        '.': '\u00b7\u00b0',                                    # · °
        ';': '\u00b6',                                          # ¶
        '[': '\u00ab',                                          # «
        ']': '\u00bb',                                          # »
    },
    altgr_dead={'`': 'Grave', "'": 'Acute', '6': 'Circumflex'},
    accents={
        'grave': ('`', 'a\u00e0 e\u00e8 i\u00ec o\u00f2 u\u00f9'),
        'acute': ("'", 'a\u00e1 e\u00e9 i\u00ed o\u00f3 u\u00fa y\u00fd c\u00e7'),
        'circumflex': ('^', 'a\u00e2 e\u00ea i\u00ee o\u00f4 u\u00fb'),
        'tilde': ('~', 'a\u00e3 n\u00f1 o\u00f5'),
    })

# German characters on the keys at the positions they have on a German
# keyboard: ü ö ä on [ ; ', ß on -, the dead circumflex on back-quote, the
# dead acute (with Shift the dead grave) on =. Letters keep their own keys.
DEUTSCH_KEYS = with_digits({'1': '!', '2': '"', '3': '\u00a7', '4': '$', '5': '%', '6': '&',
                            '7': '/', '8': '(', '9': ')', '0': '='}, {
    '`': ('dead:circumflex', '\u00b0'),
    '-': ('\u00df', '?'),
    '=': ('dead:acute', 'dead:grave'),
    '[': ('\u00fc', '\u00dc', '\u00dc'),
    ']': ('+', '*'),
    ';': ('\u00f6', '\u00d6', '\u00d6'),
    "'": ('\u00e4', '\u00c4', '\u00c4'),
    '\\': ('#', "'"),
    '#': ('<', '>'),
    ',': (',', ';'),
    '.': ('.', ':'),
    '/': ('-', '_'),
})
DEUTSCH = Layout(
    'Deutsch.kcod', DEUTSCH_KEYS,
    altgr={'Q': '@', 'E': EURO, 'M': '\u00b5', '2': '\u00b2', '3': '\u00b3', '7': '{',
           '8': '[', '9': ']', '0': '}', '-': '\\', ']': '~', '#': '|'},
    altgr_caps={'M': '\u00b5'},
    accents={
        'circumflex': ('^', 'a\u00e2 e\u00ea i\u00ee o\u00f4 u\u00fb'),
        'acute': ('\u00b4', 'a\u00e1 e\u00e9 i\u00ed o\u00f3 u\u00fa y\u00fd'),
        'grave': ('`', 'a\u00e0 e\u00e8 i\u00ec o\u00f2 u\u00f9'),
    })

# French: the digit row types & é " ' ( - è _ ç à and the digits with Shift
# (caps lock gives the capital accented letters); the key at [ is the dead
# circumflex, with Shift the dead diaeresis (carried by the tilde dead key,
# whose spacing form is ~ until the next key replaces it). Letters keep their
# own keys; the punctuation keys carry the other AZERTY characters.
FRANCAIS_KEYS = {
    '1': ('&', '1'), '2': ('\u00e9', '2', '\u00c9'), '3': ('"', '3'), '4': ("'", '4'),
    '5': ('(', '5'), '6': ('-', '6'), '7': ('\u00e8', '7', '\u00c8'), '8': ('_', '8'),
    '9': ('\u00e7', '9', '\u00c7'), '0': ('\u00e0', '0', '\u00c0'),
    '-': (')', '\u00b0'), '=': ('=', '+'), '`': ('\u00b2', '\u00b2'),
    '[': ('dead:circumflex', 'dead:tilde'), ']': ('$', '\u00a3'),
    "'": ('\u00f9', '%', '\u00d9'), '\\': ('*', '\u00b5'), '#': ('<', '>'),
    ';': ('!', '\u00a7'), ',': (',', '?'), '.': (';', '.'), '/': (':', '/'),
}
FRANCAIS = Layout(
    'Fran\u00e7ais.kcod', FRANCAIS_KEYS, digits_as_keys=False,
    altgr={'E': EURO + '\u00ea\u00eb', 'A': '\u00e0\u00e2\u00e6', 'O': '\u00f4\u0153',
           'U': '\u00f9\u00fb\u00fc', 'I': '\u00ee\u00ef', 'C': '\u00e7', 'Y': '\u00ff',
           '2': '~', '3': '#', '4': '{', '5': '[', '6': '|', '7': '`', '8': '\\', '9': '^',
           '0': '@', '-': ']', '=': '}', ']': '\u00a4'},
    accents={
        'circumflex': ('^', 'a\u00e2 e\u00ea i\u00ee o\u00f4 u\u00fb'),
        'tilde': ('\u00a8', 'a\u00e4 e\u00eb i\u00ef o\u00f6 u\u00fc y\u00ff'),
    })

LAYOUTS = [INTL_ENGLISH, US, UK, DEUTSCH, FRANCAIS]


def main(argv):
    check = '--check' in argv
    args = [a for a in argv if a != '--check']
    out_dir = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                '..', '..', 'data')
    stale = []
    for layout in LAYOUTS:
        data = render(layout)
        path = os.path.join(out_dir, layout.file_name)
        if check:
            try:
                with open(path, 'rb') as f:
                    if f.read() == data:
                        continue
            except OSError:
                pass
            stale.append(layout.file_name)
        else:
            with open(path, 'wb') as f:
                f.write(data)
    if stale:
        print('layout files differ from tools/layouts/make_layouts.py: %s' % ', '.join(stale))
        print('run: python3 tools/layouts/make_layouts.py')
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
