// Windows build: a balloon from the notification area's icon when it is
// shown; false otherwise.
//
// Desktop notifications: a short message shown by the desktop's
// notification service (org.freedesktop.Notifications on the session bus),
// for what a person must know without looking at the program's window.
#pragma once

#include <string>

// How long a notification call waits for the service's answer.
constexpr unsigned kNotifyTimeoutMs = 1000;

// Asks the service to show `summary` with `body` (UTF-8), urgent ones
// (critical urgency) kept until dismissed, in place of the notification
// shown before (its replaces_id). Returns true when the service
// took it; false, with a trace line saying why, when there is no session bus
// or no service, or it refused. Waits at most kNotifyTimeoutMs.
bool ShowDesktopNotification(const std::string &summary, const std::string &body, bool urgent);
