#include "agent/agent_report.hpp"

#include "TK/error_handler.hpp"
#include "TK/tk_console.hpp"
#include "TK/tk_format.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {
std::mutex report_lock;
const drelk_converter* reported = nullptr;
std::string started_at;
bool written = false;

std::string utc_now() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// A JSON string of UTF-8 text; bytes that are not UTF-8 become U+FFFD.
std::string quoted(const std::string& utf8) {
    std::string text = tk_to_utf8(tk_utf8_to_wstring_lossy(utf8));
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20)
                out += tk_format("\\u%04x", c);
            else
                out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string quoted(const std::u16string& text) {
    return quoted(tk_to_utf8(text));
}

const char* boolean(bool on) {
    return on ? "true" : "false";
}

const char* outcome_name(drelk_outcome::kind what) {
    switch (what) {
    case drelk_outcome::converted: return "converted";
    case drelk_outcome::failed: return "failed";
    case drelk_outcome::missing: return "missing";
    case drelk_outcome::skipped: return "skipped";
    }
    return "";
}

// At exit() from a failure of the whole job: the converter still lives on the stack below.
void write_at_exit() {
    agent_report_end(255);
}

bool write_atomically(const std::string& path, const std::string& text, std::string& reason) {
    std::string temporary = path + ".partial." + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            reason = std::strerror(n < 0 ? errno : EIO);
            ::close(fd);
            ::unlink(temporary.c_str());
            return false;
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        reason = std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}
} // namespace

std::string agent_report_text(const drelk_converter& converter, const std::string& started,
                              const std::string& ended, int status, const std::string& job_error) {
    std::vector<drelk_outcome> outcomes = converter.outcomes();
    // Jobs end in any order; the report keeps the run's.
    std::stable_sort(outcomes.begin(), outcomes.end(),
                     [](const drelk_outcome& a, const drelk_outcome& b) { return a.name < b.name; });
    std::string out = "{\n";
    out += "  \"started\": " + quoted(started) + ",\n";
    out += "  \"ended\": " + quoted(ended) + ",\n";
    out += "  \"server\": " + quoted(converter.host()) + ",\n";
    out += "  \"database\": " + quoted(converter.source()) + ",\n";
    out += "  \"destination\": " + quoted(converter.dest()) + ",\n";
    // Never the password.
    out += "  \"options\": {\n";
    out += "    \"user\": " + quoted(converter.user()) + ",\n";
    out += std::string("    \"windows_authentication\": ") + boolean(converter.windows_auth()) + ",\n";
    out += std::string("    \"as_dbo\": ") + boolean(converter.as_dbo()) + ",\n";
    out += std::string("    \"all_schemas\": ") + boolean(converter.all_schemas()) + ",\n";
    out += "    \"mode\": " + std::to_string(converter.mode()) + ",\n";
    out += "    \"delimiter\": " + std::to_string(converter.delimiter()) + ",\n";
    out += std::string("    \"include_field_names\": ") + boolean(converter.include_fnames()) + ",\n";
    out += std::string("    \"table_definitions_only\": ") + boolean(converter.only_definitions()) + ",\n";
    out += "    \"compress\": " + quoted(std::string(drelk_converter::compression_text(converter.compression()))) +
           ",\n";
    out += "    \"jobs\": " + std::to_string(converter.jobs()) + ",\n";
    out += std::string("    \"strict\": ") + boolean(converter.strict()) + ",\n";
    out += std::string("    \"silent\": ") + boolean(converter.silent()) + ",\n";
    out += "    \"logfile\": " + quoted(converter.logfile()) + "\n";
    out += "  },\n";
    out += "  \"tables\": [";
    long long rows = 0, bytes = 0;
    int counts[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const drelk_outcome& o = outcomes[i];
        out += i == 0 ? "\n" : ",\n";
        out += "    {\"name\": " + quoted(o.name) + ", \"query\": " + boolean(o.query) +
               ", \"file\": " + quoted(o.file) + ", \"rows\": " + std::to_string(o.rows) +
               ", \"bytes\": " + std::to_string(o.bytes) + ", \"seconds\": " + tk_format("%.3f", o.seconds) +
               ", \"outcome\": \"" + outcome_name(o.what) + "\"";
        if (o.what == drelk_outcome::failed) out += ", \"error\": " + quoted(o.error);
        out += "}";
        rows += o.rows;
        bytes += o.bytes;
        ++counts[o.what];
    }
    out += outcomes.empty() ? "],\n" : "\n  ],\n";
    out += "  \"totals\": {\"tables\": " + std::to_string(outcomes.size()) +
           ", \"converted\": " + std::to_string(counts[drelk_outcome::converted]) +
           ", \"failed\": " + std::to_string(counts[drelk_outcome::failed]) +
           ", \"missing\": " + std::to_string(counts[drelk_outcome::missing]) +
           ", \"skipped\": " + std::to_string(counts[drelk_outcome::skipped]) + ", \"rows\": " + std::to_string(rows) +
           ", \"bytes\": " + std::to_string(bytes) + "},\n";
    if (!job_error.empty()) out += "  \"error\": " + quoted(job_error) + ",\n";
    out += "  \"exit_status\": " + std::to_string(status) + "\n}\n";
    return out;
}

void agent_report_begin(const drelk_converter& converter) {
    static bool registered = false;
    std::lock_guard<std::mutex> guard(report_lock);
    reported = &converter;
    started_at = utc_now();
    written = false;
    if (!registered) {
        registered = true;
        std::atexit(write_at_exit);
    }
}

void agent_report_forget() {
    std::lock_guard<std::mutex> guard(report_lock);
    reported = nullptr;
}

bool agent_report_end(int status, const std::string& job_error) {
    std::lock_guard<std::mutex> guard(report_lock);
    if (!reported || written || reported->report_file().empty()) return true;
    written = true;
    std::string error = job_error;
    if (error.empty() && status == 255)
        if (const error_handler* handler = error_handler::instance()) error = handler->last_error();
    std::string path;
    std::string reason = "the name cannot be written in this locale";
    if (tk_to_ansi(reported->report_file(), path) &&
        write_atomically(path, agent_report_text(*reported, started_at, utc_now(), status, error), reason)) {
        TK_TRACE(2, "Run report written to %s", path.c_str());
        return true;
    }
    std::string text = "Cannot write the run report " + tk_to_ansi_lossy(reported->report_file()) + ": " + reason;
    TK_TRACE(3, "%s", text.c_str());
    if (!reported->silent()) {
        tk_console_write(stderr, text + "\n");
    }
    return false;
}
