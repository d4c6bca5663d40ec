// Construction and destruction: both arrays start empty and are released
// with the object.
#include "nurbs.h"

NURBS::NURBS() = default;

NURBS::~NURBS() = default;
