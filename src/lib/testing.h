// TEST-ONLY module functions. They expose internals that the public surface
// hides (the exact decode error of an event) so that the Python tests can
// assert it. Not part of the package's API; to be dropped once the batch scan
// tests cover the same ground.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace varkel {

// Method table (terminated by a zero entry) for the module definition:
//   _decode_for_test(decoder, event_name, data) -> value
// decodes `data` (the event data after the 8-byte discriminator) as the first
// event of `decoder` named `event_name`; a decode error is raised as
// ValueError with the decoder's message, an internal fault as the
// internal-error exception.
extern PyMethodDef varkel_testing_methods[];

}  // namespace varkel
