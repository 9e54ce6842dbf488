#include <string>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv) {
    return zeq::runCommand(std::vector<std::string>(argv + 1, argv + argc));
}
