#include <iostream>
#include <string>
#include <vector>

#include "tools/probe.h"

int main(int argc, char** argv) {
    return runProbe(std::vector<std::string>(argv + 1, argv + argc), std::cout);
}
