// Starting at login: the desktop's autostart entry, a desktop entry file in
// the user's autostart folder ($XDG_CONFIG_HOME/autostart, else
// ~/.config/autostart) that the session starts at login. On Windows it is the
// value "Vantrel" of the user's Run key
// (HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run):
// AutostartEntryPath names that value, DesktopExecValue gives the command
// line stored there (the program's quoted path and its arguments).
#pragma once

#include <string>
#include <vector>

// The program's desktop entry id: the desktop file's name without
// ".desktop". Wayland shells match the running program to its entry (and its
// icon) by it; the autostart entry carries the same name.
constexpr char kDesktopEntryId[] = "org.vantrel.Vantrel";

// The autostart entry's path: $XDG_CONFIG_HOME/autostart/ID.desktop when
// XDG_CONFIG_HOME is an absolute path, else $HOME/.config/autostart/ID.desktop.
// Empty when neither gives a folder.
std::string AutostartEntryPath();

// True when the autostart entry exists.
bool AutostartEnabled();

// The Exec= value that runs `program` with `arguments`: each argument
// quoted where the desktop entry rules need it, '%' doubled, backslashes
// escaped for the string value. Empty when a word holds a character an Exec
// line cannot carry (a control character such as a newline), or program is
// empty.
std::string DesktopExecValue(const std::string &program, const std::vector<std::string> &arguments);

// Writes the autostart entry that starts `program` with `arguments`, creating
// the folder when missing. The entry is written to a temporary file in the
// same folder, synced and renamed over the entry, so the entry is always
// either the old one, the new one, or absent, never half written. Returns
// true; false with the reason (a sentence naming the path) in *why.
bool AutostartEnable(const std::string &program, const std::vector<std::string> &arguments,
                     std::string *why);

// Removes the autostart entry. Returns true when it is gone (also when there
// was none); false with the reason in *why.
bool AutostartDisable(std::string *why);

// The running program's own path (/proc/self/exe, without the mark of a
// program file replaced since it started); empty when unknown.
std::string OwnProgramPath();
