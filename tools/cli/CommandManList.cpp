// Writes ormelix-cli's manual page from its template: the line ".\" @COMMANDS@" becomes the
// command list of instrument/Command.h. Runs on the build machine.
#include "instrument/CommandList.h"

#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: ormelix-command-man TEMPLATE OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    std::ofstream out(argv[2], std::ios::binary);
    if (!in || !out) {
        std::cerr << "ormelix-command-man: cannot open " << (in ? argv[2] : argv[1]) << "\n";
        return 1;
    }
    bool placed = false;
    for (std::string line; std::getline(in, line);) {
        if (line == ".\\\" @COMMANDS@") {
            out << instrument::CommandManList();
            placed = true;
        } else {
            out << line << '\n';
        }
    }
    if (!placed) {
        std::cerr << "ormelix-command-man: no @COMMANDS@ line in " << argv[1] << "\n";
        return 1;
    }
    return out.good() ? 0 : 1;
}
