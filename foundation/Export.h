// The one mark of what a shared library of this project exports.
//
// libidxtransmitter.so and libidxplatform.so are built with hidden visibility: a class or
// function is reachable from outside its library only when its declaration carries IDX_EXPORT.
// The transmitter library marks what a hosting job calls (the facade, the job callbacks, the
// option record, the option-bag keys); the platform library, which a host replaces with its own
// framework, marks its public classes. On this toolchain the same attribute serves the library
// that defines a symbol and the code that uses it, so one macro does for both libraries.
#pragma once

#define IDX_EXPORT __attribute__((visibility("default")))
