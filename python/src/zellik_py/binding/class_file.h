#pragma once

// What every class file of the binding starts from: the interpreter's API
// and the binding layer (arguments, boxed values, conversions, the guard,
// method entry points, pickling). A class file adds its layer's header
// (graph_classes.h, net_classes.h, explore_classes.h) for that layer's
// conversions and the `define_...` function it defines, which the module
// calls (module.cpp).

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "zellik_py/binding/args.h"
#include "zellik_py/binding/boxed.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/methods.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/binding/ref.h"
