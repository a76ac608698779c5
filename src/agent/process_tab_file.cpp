#include "agent/agent_cmdline.hpp"

#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <string>
#include <vector>

void process_tab_file(const std::string& path) {
    TK_TRACE(1, "process_tab_file(%s)", path.c_str());
    // A file that is there but cannot be opened is not a missing one.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 && errno != ENOENT && errno != ENOTDIR)
        agent_fatal(std::string("Table names file cannot be read: ") + std::strerror(errno));
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        agent_fatal("Table names file does not exist.\nPlease verify the correct path/name was given.");
    std::ifstream file(path, std::ios::binary);
    if (!file) agent_fatal(std::string("Table names file cannot be read: ") + std::strerror(errno));

    std::vector<std::u16string> names;
    bool utf8 = false;
    std::string line;
    // Lines of any length are read whole; the file's CR before LF is dropped as text mode would.
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (names.empty() && line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            utf8 = true;
            line.erase(0, 3);
        }
        try {
            names.push_back(utf8 ? tk_utf8_to_wstring(line) : tk_ansi_to_wstring(line));
        } catch (const tk_exception& e) {
            agent_fatal(std::string("Table names file: ") + e.message());
        }
    }
    if (file.bad()) agent_fatal(std::string("Table names file cannot be read: ") + std::strerror(errno));
    drelk_converter::get().set_selected_names(std::move(names));
}
