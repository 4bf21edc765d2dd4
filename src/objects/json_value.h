// Python data, as json.loads returns it, into a json::Value: so that one
// reader serves a transaction given as a dict and one given as JSON text.
//
//   dict (str keys) -> Object     list, tuple -> Array     str -> String
//   bool -> Bool     None -> Null     float -> Float
//   int -> UInt / Int within 64 bits, Float beyond (as the JSON parser reads
//          such numbers)
//
// Each dict and list is read from a snapshot of its items taken under its
// lock, so a concurrent change from another thread cannot tear the walk.
//
// Members that the transaction reader never reads ("parsed",
// "preBalances", "postBalances", "preTokenBalances", "postTokenBalances",
// "rewards", "returnData") keep their key with null content:
// their content, a good half of a typical transaction, costs nothing.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>

#include "json/json.h"

namespace varkel::objects {

// The value, or nullopt with an exception set: TypeError "argument '{param}':
// {path}: '{type}' object is not JSON data" (also for a non-str dict key),
// ValueError "argument '{param}': {path}: nested deeper than 127 levels", or
// ValueError for a str that is not UTF-8 text (lone surrogates) and for an
// int too large for a float. `path` reads like the reader's paths
// ("meta.logMessages[3]").
std::optional<json::Value> to_json_value(PyObject* obj, const char* param);

}  // namespace varkel::objects
