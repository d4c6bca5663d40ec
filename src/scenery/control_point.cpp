#include "control_point.h"

#include "point_number.h"

#include <QTextStream>

ControlPoint::ControlPoint(int x_, int y_, int z_, double extra_) : x(x_), y(y_), z(z_), extra(extra_) {}

void ControlPoint::write(QTextStream& stream, int number) const {
    stream << QStringLiteral("cPunkt%1=%2,%3,%4").arg(formatPointNumber(number)).arg(x).arg(y).arg(z) << Qt::endl;
}
