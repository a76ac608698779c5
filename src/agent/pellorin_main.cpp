#include "agent/agent_cmdline.hpp"

#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // The password leaves the command line (what ps and /proc show) before anything else runs;
    // the program reads its own copy.
    std::vector<std::string> copies(argv, argv + argc);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--pswd=", 7) == 0) std::memset(argv[i] + 7, 0, std::strlen(argv[i] + 7));
    std::vector<const char*> args;
    for (const std::string& arg : copies) args.push_back(arg.c_str());
    args.push_back(nullptr);
    return pellorin_main(argc, args.data());
}
