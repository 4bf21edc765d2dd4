// The exception classes that callers see, each a subclass of ValueError (the
// input is at fault) carrying what a caller needs as attributes, so that no
// caller has to read it out of the text. The texts are the core's messages.
//
//   IdlError          an IDL that cannot be read or used; lineno, colno: where
//                     its JSON text is broken (None otherwise)
//   TransactionError  input that is not a transaction; path: the offending
//                     member ("result.meta.innerInstructions[0].index"), or
//                     None; lineno, colno: where its JSON text is broken
//   ProgramIdError    decoders that cannot attribute: an IDL without a usable
//                     program address, or two decoders of one program;
//                     decoder: which ("decoder", "decoders[2]"); reason: the
//                     text without it
//   InstructionError  an instruction that does not decode; reason:
//                     "discriminator", "arguments", "accounts" or "input" (the
//                     arguments of the call); path: the argument field or the
//                     input that failed, or None; instruction: its name, or
//                     None
//   AccountError      account data that does not decode; reason: "missing",
//                     "input", "owner", "discriminator" or "data"; path: the
//                     field that did not fit, or None; account: the account
//                     type's name, or None
//
// The classes are created once per process and live in the module "varkel".
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <string_view>

#include "base/result.h"

namespace varkel::objects {

// Borrowed; null with an exception set when a class cannot be created.
PyObject* idl_error_type();
PyObject* transaction_error_type();
PyObject* program_id_error_type();
PyObject* instruction_error_type();
PyObject* account_error_type();

// Raise the class with `prefix` + error.message and the error's place as
// attributes. Return null.
std::nullptr_t raise_idl_error(std::string_view prefix, const Error& error);
std::nullptr_t raise_transaction_error(std::string_view prefix, const Error& error);
// `error.path` names the decoder; the message is "{decoder}: {reason}".
std::nullptr_t raise_program_id_error(const Error& error);
// The pending TransactionError again, its message after `prefix`.
std::nullptr_t prefix_transaction_error(std::string_view prefix);
// `reason` as InstructionError.reason; `instruction` empty: None.
std::nullptr_t raise_instruction_error(const Error& error, const char* reason, std::string_view instruction);
// `account` empty: None.
std::nullptr_t raise_account_error(const Error& error, const char* reason, std::string_view account);

}  // namespace varkel::objects
