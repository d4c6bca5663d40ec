// One waypoint of a curved flight: a plan position with the heading (a) and
// tilt (p) the camera should have there, in radians.
#pragma once

class QTextStream;

struct Waypoint {
    int x;
    int y;
    int z;     // stored only
    double i;  // stored only
    double a;  // heading
    double p;  // tilt

    Waypoint(int x_, int y_, int z_, double a_, double p_);

    // Writes the five scenery-file lines of this waypoint under the given number.
    void write(QTextStream& stream, int number) const;
};
