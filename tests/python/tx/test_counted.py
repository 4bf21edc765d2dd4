"""The command line's counted variants (_decode_logs_counted,
_decode_counted): the same events as the public functions, and
counts of what the pass saw that add up, against an independent count of the
real transactions' lines."""

import base64
import binascii
import json

import pytest

import varkel
from varkel._output import transaction_id
from helpers import current_idl, data_line, struct
from tx.test_real_transactions import CASES, IDS, attribution
from tx.twin import walk
from tx.txdata import decoder, invoke, load, result_of, success

_varkel = varkel._varkel
KEYS = {"payload_lines", "cpi_instructions", "unknown_discriminators", "unattributed", "other_programs",
        "invocations", "events", "failed"}


def payload_lines(lines, decoders):
    """Independently: the "Program data:" lines with one field of at least 8
    bytes in a frame of a decoder's program, and the "Program log:" lines
    there that parse_logs decodes."""
    by_id = {d.program_id: d for d in decoders}
    count = 0
    for i, frame, _ in walk(lines)[1]:
        if frame is None or frame.program not in by_id:
            continue
        line = lines[i]
        if line.startswith("Program log: "):
            count += bool(by_id[frame.program].parse_logs([line]))
            continue
        text = line.removeprefix("Program data: ").strip()
        try:
            count += " " not in text and len(base64.b64decode(text, validate=True)) >= 8
        except binascii.Error:
            pass
    return count


def balanced(counts, events):
    """Every counted payload is an event, an unknown discriminator or a
    failure; a log+cpi event was counted twice (its line and its CPI)."""
    merged = sum(e.source == "log+cpi" for e in events)
    return (counts["payload_lines"] + counts["cpi_instructions"]
            == counts["unknown_discriminators"] + counts["events"] + counts["failed"] + merged)


@pytest.mark.parametrize("name, keys, expected", CASES, ids=IDS)
def test_real_transactions(name, keys, expected):
    decoders = [decoder(k) for k in keys]
    doc = load(name)
    [(tx, items)], counts = _varkel._decode_counted(doc, decoders, False)
    events = tx.events
    assert items == events and tx.instructions == []
    assert attribution(events) == attribution(varkel.decode_transaction(doc, decoders)) == expected
    assert (tx.signature, tx.slot) == transaction_id(result_of(doc))  # the wire forms' signature read in Python
    assert set(counts) == KEYS | {"instructions", "undecodable_instructions", "transactions"}
    assert (counts["events"], counts["failed"], counts["unattributed"]) == (len(expected), 0, 0)
    lines = result_of(doc)["meta"]["logMessages"]
    assert counts["payload_lines"] == payload_lines(lines, decoders)
    assert counts["cpi_instructions"] >= sum("cpi" in e.source for e in events)
    assert balanced(counts, events)
    # The logs alone: the same logged events, no CPI instruction.
    events, counts = _varkel._decode_logs_counted(lines, decoders, False)
    assert attribution(events) == attribution(varkel.decode_logs(lines, decoders))
    assert counts["payload_lines"] == payload_lines(lines, decoders)
    assert counts["cpi_instructions"] == 0
    assert balanced(counts, events)


PROGRAM = "Prog111111111111111111111111111111111111111"
OTHER = "Prog211111111111111111111111111111111111111"
U64 = struct("E", [("a", "u64")])
WIDER = struct("E", [("a", "u64"), ("b", "u64")])  # a newer layout than the lines carry


def event_line(value=7, name="E"):
    from varkel_support import event_discriminator

    return data_line(event_discriminator(name), value.to_bytes(8, "little"))


def test_events_of_a_known_discriminator_that_do_not_decode_are_counted_failed():
    lines = [invoke(PROGRAM, 1), event_line(1), event_line(2), success(PROGRAM)]
    right = varkel.EventDecoder(current_idl(["E"], [U64]))
    outdated = varkel.EventDecoder(current_idl(["E"], [WIDER]))
    events, counts = _varkel._decode_logs_counted(lines, [right], False)
    assert [e.data for e in events] == [{"a": 1}, {"a": 2}]
    assert (counts["payload_lines"], counts["events"], counts["failed"]) == (2, 2, 0)
    events, counts = _varkel._decode_logs_counted(lines, [outdated], False)
    assert events == []
    assert counts == dict.fromkeys(KEYS, 0) | {"payload_lines": 2, "failed": 2, "invocations": 1}


def test_unknown_discriminators():
    lines = [invoke(PROGRAM, 1), event_line(1, "Unknown"), event_line(1), success(PROGRAM)]
    events, counts = _varkel._decode_logs_counted(lines, [varkel.EventDecoder(current_idl(["E"], [U64]))], False)
    assert len(events) == 1
    assert counts == dict.fromkeys(KEYS, 0) | {"payload_lines": 2, "unknown_discriminators": 1, "events": 1, "invocations": 1}


def test_lines_outside_any_frame_are_adopted_with_one_decoder_only():
    one = varkel.EventDecoder(current_idl(["E"], [U64]))
    other = varkel.EventDecoder(json.dumps(json.loads(current_idl()) | {"address": OTHER}))
    lines = [event_line(1), "Program log: plain text", invoke(PROGRAM, 1), event_line(2), success(PROGRAM),
             event_line(3)]
    events, counts = _varkel._decode_logs_counted(lines, [one], True)
    # As parse_logs reads them, with depth 0 and no place; the framed one as always.
    assert [(e.data, e.depth, e.instruction, e.log_index, e.program_id) for e in events] == [
        ({"a": 1}, 0, None, 0, PROGRAM), ({"a": 2}, 1, 0, 3, PROGRAM), ({"a": 3}, 0, None, 5, PROGRAM)]
    assert [(e.name, e.data) for e in events] == one.parse_logs(lines)
    assert counts == dict.fromkeys(KEYS, 0) | {"payload_lines": 3, "events": 3, "invocations": 1}
    # Not adopted, or ambiguous between two programs: nobody's, counted.
    for decoders, adopt in (([one], False), ([one, other], True)):
        events, counts = _varkel._decode_logs_counted(lines, decoders, adopt)
        assert [e.data for e in events] == [{"a": 2}]
        assert counts == dict.fromkeys(KEYS, 0) | {"payload_lines": 1, "events": 1, "unattributed": 2,
                                                  "invocations": 1}
    # The public function never adopts.
    assert [e.data for e in varkel.decode_logs(lines, [one])] == [{"a": 2}]


def test_arguments_are_checked_as_the_public_functions_check_them():
    one = varkel.EventDecoder(current_idl(["E"], [U64]))
    with pytest.raises(TypeError, match=r"missing 1 required positional argument: 'adopt_unattributed'"):
        _varkel._decode_logs_counted([], [one])
    with pytest.raises(TypeError, match=r"decoders\[0\]"):
        _varkel._decode_counted("{}", [object()], False)
    with pytest.raises(ValueError, match="invalid transaction"):
        _varkel._decode_counted("{}", [one], False)
    with pytest.raises(TypeError):
        _varkel._decode_logs_counted("not a list", [one], False)
