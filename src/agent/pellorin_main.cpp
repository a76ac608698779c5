#include "agent/agent_cmdline.hpp"

int main(int argc, char** argv) {
    return pellorin_main(argc, argv);
}
