// parse_logs: conversion of the `logs` argument and the scan of a batch.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "decode/plan.h"
#include "decode/registry.h"
#include "objects/keys.h"
#include "py/pyref.h"

namespace varkel::objects {

// The lines of one batch: UTF-8 views into the str objects, which `holder`
// (a tuple argument) or `owners` (one reference per line kept) keeps alive for
// as long as the views are used.
struct LogLines {
  py::PyRef holder;
  std::vector<py::PyRef> owners;
  std::vector<std::string_view> views;
};

// The lines a caller reads: every line, or only those that carry a payload
// (scan::extract_payload), in which alone the events of a batch are found.
// Either way every item is checked.
enum class Lines { All, Payloads };

// Converts the `logs` argument completely, or raises (TypeError prefixed with
// "argument 'logs': ", UnicodeEncodeError, or the iteration's own exception).
std::optional<LogLines> convert_logs(PyObject* logs, Lines which = Lines::All);

// What a batch is decoded with: the registry's events, their plan and its keys.
struct Decoding {
  const decode::EventRegistry& registry;
  const decode::DecodePlan& plan;
  const KeyTable& keys;
};

// Decodes every event line of the batch, in order, into a new list of
// (name, value) tuples (lines that carry no event, or one whose data does not
// decode, are skipped). Null with an exception set only when the interpreter
// fails (creating the list, a record or a value).
py::PyRef scan_batch(const Decoding& decoding, std::span<const std::string_view> lines);

}  // namespace varkel::objects
