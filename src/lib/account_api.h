// The account entry points: EventDecoder.account_names, .decode_account and
// .decode_accounts (and .decode_accounts_arrow, with the Arrow tables). Each
// goes into its table behind py::guarded.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace varkel {

PyObject* decoder_account_names(PyObject* self, void*);
PyObject* decoder_decode_account(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* decoder_decode_accounts(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* decoder_decode_accounts_arrow(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames);

inline constexpr const char* kAccountNamesDoc =
    "Names of all account types declared in the IDL, in declaration order.";

inline constexpr const char* kDecodeAccountDoc =
    "decode_account($self, data)\n--\n\n"
    "One account of this decoder's program: its data as bytes or base64 text, or\n"
    "an RPC account object ({\"data\": [text, encoding], \"owner\": ...}, encodings\n"
    "base64, base58 and base64+zstd). Returns (name, value); raises\n"
    "varkel.AccountError when it does not decode (another program's, unknown\n"
    "discriminator, data that does not fit).";

inline constexpr const char* kDecodeAccountsDoc =
    "decode_accounts($self, items)\n--\n\n"
    "Many accounts at once: a getProgramAccounts or getMultipleAccounts result\n"
    "(with or without the RPC envelope or context), a list of account objects or\n"
    "of {pubkey, account}, as Python data or JSON text. Returns a list of\n"
    "varkel.Account, one per account in order; an account that does not decode\n"
    "is listed with the reason (error).";

inline constexpr const char* kDecodeAccountsArrowDoc =
    "decode_accounts_arrow($self, items, pubkey='base58')\n--\n\n"
    "The accounts of decode_accounts as Arrow tables: a dict from the name of\n"
    "every account type of the IDL to an EventTable with a pubkey column, then\n"
    "one column per field (null pubkey where the input gives none). Accounts that\n"
    "do not decode are left out (decode_accounts lists them with the reason).\n"
    "pubkey: \"base58\" (text) or \"binary\" (32-byte fixed-size binary) for every\n"
    "public key.";

}  // namespace varkel
