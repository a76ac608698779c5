#include "GUI2/tk_send_bug.hpp"

#include "GUI2/g_gui.hpp"
#include "TK/tk_errco.hpp"
#include "TK/tk_format.hpp"
#include "TK/tk_log.hpp"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QUrl>

namespace {

// Percent-encodes the UTF-8 form of narrow text; only unreserved characters stay.
std::string mail_encode(const std::string& narrow) {
    QByteArray utf8 = g_qstring(narrow).toUtf8();
    std::string out;
    static const char hex[] = "0123456789ABCDEF";
    for (char ch : utf8) {
        unsigned char c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// Mail links carry line breaks as CR LF.
std::string crlf(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

} // namespace

void tk_copy_to_clipboard2(const std::u16string& text) {
    TK_WTRACE(2, u"tk_copy_to_clipboard2(%s)", text.c_str());
    QClipboard* clipboard =
        qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
    if (!clipboard) {
        TK_TRACE(3, "No clipboard");
        return;
    }
    clipboard->setText(g_qstring(text));
    if (clipboard->text() != g_qstring(text)) TK_TRACE(3, "The clipboard did not take the text");
}

std::string tk_bug_mail_url(const std::string& title, const std::string& message, const std::tm& now) {
    std::string date =
        tk_format("%d/%d/%d %d:%d", now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min);
    return std::string("mailto:") + tk_support_address + "?subject=" + mail_encode("Bug report on " + title) +
           "&body=" + mail_encode(crlf(message)) + "&date=" + mail_encode(date);
}

void tk_send_bug(const std::string& title, const std::string& message) {
    TK_TRACE(2, "tk_send_bug(%s|%s)", title.c_str(), message.c_str());
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    QUrl url(QString::fromStdString(tk_bug_mail_url(title, message, local)), QUrl::StrictMode);
    bool opened = QDesktopServices::openUrl(url);
    TK_TRACE(1, "QDesktopServices::openUrl returns %d", opened ? 1 : 0);
    if (!opened) TK_TRACE(3, "Failed to locate a mail handler");
}
