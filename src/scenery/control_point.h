// One control point of the observer's path in a curved flight.
#pragma once

class QTextStream;

struct ControlPoint {
    int x;
    int y;
    int z;
    double extra;  // carried along, never read from or written to a file

    ControlPoint(int x_, int y_, int z_, double extra_);

    // Writes the scenery-file line of this control point under the given number.
    void write(QTextStream& stream, int number) const;
};
