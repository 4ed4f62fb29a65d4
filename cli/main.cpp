// The pixelmend command: runs session scripts in the substitute host.
#include <iostream>

#include "subhost/host.h"

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    std::cerr << "pixelmend: not ready yet\n";
    return 2;
}
