// Message boxes' presenters and questions asked with verbs, the same on
// every platform (platform/core/message_verbs.cpp). Included by
// platform/window.h, which says what MessageBoxW does without a presenter:
// include that one.
#pragma once

#include "platform/wintypes.h"

#include <cstddef>

// A presenter shows a message box and returns its answer (IDOK, IDYES,
// ...): the desktop toolkit's, or a test's scripted one. The text and
// caption are the caller's, valid during the call only.
typedef int (*MessageBoxPresenter)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type,
                                   void *context);
// Replaces the presenter (null: none).
void SetMessageBoxPresenter(MessageBoxPresenter presenter, void *context);
// A question answered by verbs rather than Yes and No: as MessageBoxW with
// MB_YESNO and the icon given, the Yes and No buttons labelled yesVerb and
// noVerb ("Restart Now", "Later") where the toolkit shows it; a presenter
// that knows no verbs, or a box of the system's, shows it as a Yes/No box.
// Returns IDYES or IDNO.
int AskWithVerbsW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT icon, LPCWSTR yesVerb,
                  LPCWSTR noVerb);
// For presenters: the verbs of the question AskWithVerbsW is asking with
// this very text (the same pointer), copied into the two buffers of `units`
// units each (cut to fit). False, buffers untouched, for any other box.
bool MessageBoxVerbs(LPCWSTR text, WCHAR *yesVerb, WCHAR *noVerb, size_t units);
