// Interactive loader of a net-point file. The file holds a header line, the
// two orders, the net size and the numbers of parametric lines (two integers
// each), then x y z for every net point. Not used by the flights; kept as a
// tool for trying nets by hand.
#include "nurbs.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <locale>
#include <string>

namespace {

// Writes a complete message to standard error in one piece.
void say(std::string const& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

// Reads one pair of integers after zeroing both.
bool readPair(std::istream& in, int& a, int& b) {
    a = 0;
    b = 0;
    return static_cast<bool>(in >> a >> b);
}

std::string formatDouble(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

}  // namespace

void NURBS::rdpnp(int& k1, int& k2, int& npts, int& mpts, int& p1, int& p2) {
    // File name: one whitespace-delimited word, nothing more is consumed.
    say("Enter data file name: ");
    std::string name;
    std::cin >> name;

    std::ifstream file(name);
    if (!file.is_open()) {
        say("\tThe file: " + name + "\n\tDoes not exist.\n");
        std::exit(-1);
    }
    // Numbers in the file are read in the "C" locale whatever the process
    // locale is.
    file.imbue(std::locale::classic());
    say("Reading from file " + name + "\n");

    // Header: the first line, at most 1023 characters including its line
    // break; a longer line leaves its rest for the numbers that follow.
    std::string header;
    std::size_t consumed = 0;
    char ch = 0;
    while (consumed < 1023 && file.get(ch)) {
        ++consumed;
        if (ch == '\n')
            break;
        header.push_back(ch);
    }
    if (consumed == 0) {
        say("No header string in preliminary net point file\nor file is empty.");
        std::exit(-1);
    }
    say(header + "\n");

    if (!readPair(file, k1, k2)) {
        say("Missing net order; exit");
        return;
    }
    if (!readPair(file, npts, mpts)) {
        say("Missing number of net points; exit");
        return;
    }
    if (!readPair(file, p1, p2)) {
        say("Missing number of parametric lines; exit");
        return;
    }
    say("Order " + std::to_string(k1) + "x" + std::to_string(k2) + ", net points " + std::to_string(npts) + "x" +
        std::to_string(mpts) + ",\n");
    say("Number of parametric lines " + std::to_string(p1) + "x" + std::to_string(p2) + ".\n");
    say("Read net points\n");

    // Net points, each with weight 1; a short file leaves the rest zero.
    std::size_t const count =
        (npts > 0 && mpts > 0) ? static_cast<std::size_t>(npts) * static_cast<std::size_t>(mpts) : 0;
    net_.assign(count * 4, 0.0);
    for (std::size_t k = 0; k < count; ++k) {
        double x = 0.0;
        double y = 0.0;
        double z = 0.0;
        if (!(file >> x >> y >> z)) {
            say("Missing point data at i = " + std::to_string(k * 4));
            return;
        }
        net_[k * 4 + 0] = x;
        net_[k * 4 + 1] = y;
        net_[k * 4 + 2] = z;
        net_[k * 4 + 3] = 1.0;
        say(formatDouble(x) + " " + formatDouble(y) + " " + formatDouble(z) + "\n");
    }
    say("Net points read - return to main\n");
}
