#include "waypoint.h"

#include "point_number.h"

#include <QTextStream>

Waypoint::Waypoint(int x_, int y_, int z_, double a_, double p_) : x(x_), y(y_), z(z_), i(0.0), a(a_), p(p_) {}

void Waypoint::write(QTextStream& stream, int number) const {
    QString const n = formatPointNumber(number);
    stream << QStringLiteral("Punkt%1=%2,%3").arg(n).arg(x).arg(y) << Qt::endl;
    stream << QStringLiteral("Punkt%1_z=%2").arg(n).arg(z) << Qt::endl;
    stream << QStringLiteral("Punkt%1_i=%2").arg(n).arg(i) << Qt::endl;
    stream << QStringLiteral("Punkt%1_a=%2").arg(n).arg(a) << Qt::endl;
    stream << QStringLiteral("Punkt%1_p=%2").arg(n).arg(p) << Qt::endl;
}
