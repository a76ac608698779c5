#include "wizard/drelk_entry.hpp"

int main(int argc, char** argv) {
    return drelk_main(argc, argv);
}
