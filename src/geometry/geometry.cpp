// The geometry types are header-only; this file gives the library a body.
#include "geometry.h"
