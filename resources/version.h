// The module's version, written once: the version record in Kolvarine.rc,
// the CMake project (and with it the release archive's name) read it here.
#ifndef KOLVARINE_VERSION_H
#define KOLVARINE_VERSION_H

#define KOLVARINE_VERSION_MAJOR 3
#define KOLVARINE_VERSION_MINOR 1
#define KOLVARINE_VERSION_PATCH 0
#define KOLVARINE_VERSION_BUILD 18

// The same four numbers as text: the resource compiler cannot build a string
// from numbers, so CMake checks at configure time that the two agree.
#define KOLVARINE_VERSION_TEXT "3.1.0.18"

#endif  // KOLVARINE_VERSION_H
