"""No C++ exception crosses into the interpreter: at every entry point
std::bad_alloc becomes MemoryError and any other exception the internal error,
and the interpreter goes on working."""

import json
import subprocess
import sys
import textwrap

import pytest

from helpers import SANITIZED, load_testing_module

testing = load_testing_module()
needs_testing = pytest.mark.skipif(testing is None, reason="the test-only module _varkel_testing is not built")


@needs_testing
@pytest.mark.parametrize(
    "kind, error, text",
    [
        ("bad_alloc", MemoryError, ""),
        ("length_error", "InternalError", "vector::reserve"),
        ("runtime_error", "InternalError", "thrown for the test"),
        ("int", "InternalError", "unknown C++ exception"),
    ],
)
def test_guard_maps_cpp_exceptions(kind, error, text):
    with pytest.raises(BaseException) as info:
        testing.throw_cpp(kind)
    if error is MemoryError:
        assert type(info.value) is MemoryError
    else:
        assert type(info.value).__qualname__ == error and not isinstance(info.value, Exception)
    assert str(info.value) == text
    # The interpreter is unharmed and the module still answers.
    with pytest.raises(ValueError):
        testing.throw_cpp("nothing")


# The interpreter failing to make an object: running out of memory stays
# MemoryError (as in the core), anything else becomes the internal error with
# its text.
@needs_testing
@pytest.mark.parametrize("exc, error, text", [
    (MemoryError(), "MemoryError", ""),
    (ValueError("odd"), "InternalError", "ValueError: odd"),
])
def test_interpreter_failures(exc, error, text):
    with pytest.raises(BaseException) as info:
        testing.interpreter_failure(exc)
    assert type(info.value).__qualname__ == error and str(info.value) == text


# Run in a fresh interpreter whose address space is capped just above what it
# already uses, so that the next large allocation fails (the free-threaded
# interpreter reserves about a GiB up front, so the cap is relative to the
# current size, not absolute). The big inputs are built before the cap; the
# call under the cap then needs tens of MiB more, which it cannot get.
CAPPED = textwrap.dedent(
    """
    import base64, hashlib, json, resource, sys
    import varkel
    from varkel import EventDecoder

    def vm_size():
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmSize:"):
                    return int(line.split()[1]) * 1024

    disc = hashlib.sha256(b"event:E").digest()[:8]
    def idl(description=""):
        return json.dumps({
            "address": "Prog111111111111111111111111111111111111111",
            "metadata": {"name": "t", "version": "0.1.0", "spec": "0.1.0", "description": description},
            "instructions": [],
            "events": [{"name": "E", "discriminator": list(disc)}],
            "types": [{"name": "E", "type": {"kind": "struct", "fields": [{"name": "v", "type": "u8"}]}}]})
    def transaction(logs):
        return {"slot": 1, "meta": {"err": None, "logMessages": logs},
                "transaction": {"signatures": [], "message": {"accountKeys": [], "instructions": []}}}
    decoder = EventDecoder(idl())
    good = "Program data: " + base64.b64encode(disc + b"\\x07").decode()
    # 64 MiB of base64 that starts with the event's discriminator and ends in
    # a character outside the alphabet: decoding allocates its whole buffer
    # before it finds that the text is no base64.
    big = "Program data: " + base64.b64encode(disc + b"\\0").decode() + "A" * ((64 << 20) - 4) + "AAA!"
    scenario = sys.argv[1]
    if scenario == "line":        # the payload buffer of a 64 MiB line
        call = lambda: decoder.parse_logs([good, big, good])
    elif scenario == "arrow":     # the same line into Arrow tables
        call = lambda: decoder.parse_logs_arrow([good, big, good])["E"].num_rows
    elif scenario == "tx_text":   # a transaction's JSON text with a 64 MiB log line
        text = json.dumps(transaction([big]))
        call = lambda: varkel.decode_transaction(text, [decoder])
    elif scenario == "tx_dict":   # the same as a dict (its strings are copied)
        doc = transaction([big])
        call = lambda: varkel.decode_transaction(doc, [decoder])
    else:                         # the JSON parser's copy of a 64 MiB string
        big = idl("d" * (64 << 20))
        call = lambda: EventDecoder(big).event_names

    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (vm_size() + (16 << 20), hard))
    try:
        call()
        outcome = "no error"
    except MemoryError:
        outcome = "MemoryError"
    except BaseException as error:
        outcome = f"{type(error).__qualname__}: {error}"
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    print(json.dumps({"outcome": outcome, "after": repr(call())}))
    """
)


# Every entry point that can be made to allocate much: allocation failure is
# MemoryError whether the core or the interpreter ran out, and the process
# decodes normally once memory is back.
@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer's shadow memory does not fit under an address-space cap")
@pytest.mark.parametrize(
    "scenario, after",
    [
        ("line", "[('E', {'v': 7}), ('E', {'v': 7})]"),
        ("arrow", "2"),
        ("tx_text", "[]"),
        ("tx_dict", "[]"),
        ("idl", "['E']"),
    ],
)
def test_allocation_failure_raises_memory_error(scenario, after):
    done = subprocess.run([sys.executable, "-c", CAPPED, scenario], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout)
    assert result == {"outcome": "MemoryError", "after": after}


# The module keeps its types and exception classes process-wide, so it
# declares that it cannot be loaded into a second interpreter (3.12+): there
# the import fails with ImportError, and the main interpreter's module goes on
# working. (3.11 has no way to declare it, nor interpreters with their own GIL.)
SUBINTERPRETER = textwrap.dedent(
    """
    import json
    import varkel
    try:
        import _interpreters as interpreters
        def run(iid, code):
            failure = interpreters.run_string(iid, code)
            return None if failure is None else failure.formatted
    except ImportError:
        import _xxsubinterpreters as interpreters
        def run(iid, code):
            try:
                interpreters.run_string(iid, code)
            except interpreters.RunFailedError as error:
                return str(error)
    iid = interpreters.create()
    outcome = run(iid, "import varkel")
    interpreters.destroy(iid)
    print(json.dumps({"outcome": outcome, "after": varkel.EventDecoder('{"address": "", "metadata": {"name": "t",'
        ' "version": "0", "spec": "0.1.0"}, "instructions": []}').event_names}))
    """
)


@pytest.mark.skipif(sys.version_info < (3, 12), reason="3.11 has no way to declare interpreter support")
def test_second_interpreter_is_refused():
    done = subprocess.run([sys.executable, "-c", SUBINTERPRETER], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout)
    assert "ImportError" in result["outcome"] and "does not support loading in subinterpreters" in result["outcome"]
    assert result["after"] == []
