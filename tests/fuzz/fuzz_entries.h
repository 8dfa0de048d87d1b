// The fuzz entries: one per parser of outside data. Each takes any bytes,
// runs them through the program's own code as that data, and returns 0. A
// fault shows as a sanitizer report or an abort. The same functions run
// under libFuzzer (libfuzzer_main.cpp) and, in the ordinary builds, over the
// kept inputs (replay_test.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

// The keyboard's byte stream through ReceiveBlock (frame_decoder_fuzz.cpp).
int FuzzFrameDecoder(const uint8_t *data, size_t size);
// A layout file through loadKeycodeFile, then typed with (layout_fuzz.cpp).
int FuzzLayoutFile(const uint8_t *data, size_t size);
// A language file through LoadUiStrings and its readers (language_fuzz.cpp).
int FuzzLanguageFile(const uint8_t *data, size_t size);
// "testmode.txt" through loadKeyTestList (key_test_fuzz.cpp).
int FuzzKeyTestList(const uint8_t *data, size_t size);
// A help or hot-tips text through ReadTextPage (text_page_fuzz.cpp).
int FuzzTextPage(const uint8_t *data, size_t size);
// A picture through the BMP header check and the decoder (bmp_fuzz.cpp).
int FuzzBmpPicture(const uint8_t *data, size_t size);
// A stored setting of any type and bytes through the settings store's reads
// and the start-up code that reads it (settings_fuzz.cpp).
int FuzzSettingsValue(const uint8_t *data, size_t size);
// A Bluetooth device's service discovery answer through the reads of the
// raw RFCOMM fallback (sdp_answer_fuzz.cpp).
int FuzzSdpAnswer(const uint8_t *data, size_t size);
