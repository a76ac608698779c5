#pragma once

#include <ctime>
#include <string>

// Puts the text on the clipboard as Unicode text; a failure is only traced.
void tk_copy_to_clipboard2(const std::u16string& text);

// Hands a bug report to the desktop's mail handler as a mailto: link to the support address;
// a missing handler is only traced. Title and message are narrow text.
void tk_send_bug(const std::string& title, const std::string& message);

// The link itself: subject "Bug report on <title>", the message as body (CR LF line breaks) and
// the time of the report "year/month/day hour:minute" as its date.
std::string tk_bug_mail_url(const std::string& title, const std::string& message, const std::tm& now);
