"""Malformed and hostile logs: a table of shapes (log texts that mention
invoke, missing closes, depth jumps, closes of programs not on the stack,
truncation, empty logs), 100,000-line logs, and random edits of real logs
against the twin. Correct or flagged, never an exception."""

import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import varkel
from tx.twin import twin_logs
from tx.txdata import OKX, PUMP_AMM, as_json, data_line, decoder, failed, invoke, load, result_of, success

ROUTE = "agavesim-pump_amm-okx-route-tx-2zNeSn8c.json"
OTHER = "TokenkegQfeZyiNwAJbNbGKPFXCWuBvf9Ss623VQ5DA"


def route_logs():
    return result_of(load(ROUTE))["meta"]["logMessages"]


def swap_line():
    return next(line for line in route_logs() if line.startswith("Program data: QMbN6CYIce"))


def as_rows(events):
    return [(e.name, e.instruction, e.inner, e.depth, e.log_index, e.truncated, e.out_of_step) for e in events]


S = "SwapEvent"
# (lines, [(event, instruction, inner, depth, log_index, truncated, out_of_step)]); "D" is the SwapEvent line.
CASES = {
    "in_step": ([invoke(OKX, 1), "D", success(OKX)], [(S, 0, None, 1, 1, False, False)]),
    "log_text_mentions_invoke": ([invoke(OKX, 1), f"Program log: {invoke(OTHER, 2)}", "Program log: invoke [2]", "D",
                                  success(OKX)], [(S, 0, None, 1, 3, False, False)]),
    "line_feed_in_an_element": ([invoke(OKX, 1), "Program log: done\n" + invoke(OTHER, 2), "D", success(OKX)],
                                [(S, 0, None, 1, 2, False, False)]),
    "missing_close": ([invoke(OKX, 1), invoke(OTHER, 2), invoke(OKX, 2), "D", success(OKX), success(OKX)],
                      [(S, 0, 1, 2, 3, False, True)]),
    "missing_close_of_another_program_then_the_event": (
        [invoke(OKX, 1), invoke(OTHER, 2), "D", success(OKX)], []),
    "depth_jump": ([invoke(OTHER, 1), invoke(OKX, 3), "D", success(OKX), success(OTHER)],
                   [(S, 0, 0, 3, 2, False, True)]),
    "close_of_a_program_not_on_the_stack": ([invoke(OKX, 1), success(OTHER), "D", success(OKX)],
                                            [(S, 0, None, 1, 2, False, True)]),
    "close_pops_through_a_callee": ([invoke(OKX, 1), invoke(OTHER, 2), success(OKX), "D"], []),
    "failed_pops": ([invoke(OKX, 1), invoke(OTHER, 2), failed(OTHER), "D", failed(OKX)],
                    [(S, 0, None, 1, 3, False, False)]),
    "truncated_in_the_middle": ([invoke(OKX, 1), "D", "Log truncated", "D", success(OKX)],
                                [(S, 0, None, 1, 1, False, False), (S, 0, None, 1, 3, True, False)]),
    "truncation_dropped_lines": ([invoke(OTHER, 1), invoke(OKX, 2), "Log truncated", "D"],
                                 [(S, 0, 0, 2, 3, True, True)]),
    "empty": ([], []),
    "only_noise": (["", "Log truncated", "Program log: x", "Transfer: insufficient lamports 1, need 2"], []),
    "invoke_below_depth_one_first": ([invoke(OKX, 2), "D", success(OKX)], [(S, None, None, 2, 1, False, True)]),
    "second_instruction": ([invoke(OTHER, 1), success(OTHER), invoke(OKX, 1), invoke(OTHER, 2), success(OTHER), "D",
                            success(OKX)], [(S, 1, None, 1, 5, False, False)]),
}


@pytest.mark.parametrize("case", list(CASES))
def test_hostile_shapes(case):
    lines, expected = CASES[case]
    lines = [swap_line() if line == "D" else line for line in lines]
    okx = decoder("okx")
    events = okx.decode_logs(lines)
    assert as_rows(events) == expected
    twin, out_of_step, _ = twin_logs(lines, [okx])
    assert [(e[0], e[3], e[4], e[5], e[7], e[8]) for e in twin] == [r[:6] for r in expected]
    assert all(e.out_of_step == out_of_step for e in events)


def test_failed_top_level_frame_marks_the_events_of_logs_alone():
    lines = [invoke(OKX, 1), swap_line(), failed(OKX)]
    (event,) = decoder("okx").decode_logs(lines)
    assert event.failed


def test_hundred_thousand_lines_of_real_transactions():
    lines = route_logs() * (100_000 // len(route_logs()) + 1)
    events = varkel.decode_logs(lines, [decoder("okx"), decoder("pump_amm")])
    copies = len(lines) // len(route_logs())
    assert [e.name for e in events] == ["BuyEvent", "SwapEvent"] * copies
    # Instructions are counted across the copies; the swap is the eighth of each.
    per_copy = sum(line.endswith(" invoke [1]") for line in route_logs())
    assert events[-1].instruction == per_copy * (copies - 1) + 7
    assert not any(e.out_of_step for e in events)


@pytest.mark.parametrize("shape", ["nested_then_stray_closes", "depth_jumps", "data_everywhere"])
def test_hundred_thousand_hostile_lines(shape):
    data = swap_line()
    if shape == "nested_then_stray_closes":
        lines = [invoke(OKX, k + 1) for k in range(50_000)] + [success(OTHER)] * 50_000
    elif shape == "depth_jumps":
        lines = [line for _ in range(25_000) for line in (invoke(OKX, 1), invoke(OTHER, 1000), data, invoke(OKX, 2))]
    else:
        lines = [invoke(OKX, 1)] + [data] * 99_998 + [success(OKX)]
    events = decoder("okx").decode_logs(lines)
    if shape == "data_everywhere":
        assert len(events) == 99_998 and not events[0].out_of_step
    else:
        assert events == [] or all(e.out_of_step for e in events)


# Random edits of the real logs: deleted, doubled and moved lines, lines of
# other shapes put in; decode_logs agrees with the twin on every one.
EXTRA = [invoke(OKX, 1), invoke(PUMP_AMM, 2), invoke(OTHER, 3), success(OKX), success(PUMP_AMM), failed(OTHER),
         "Log truncated", "Program data: ", "Program data: AAAA BBBB", f"Program {OKX} consumed 5 of 9 compute units",
         "Program log: will invoke [1]", invoke(OKX, 4294967295), invoke(OKX, 0)]


@settings(max_examples=150, deadline=None)
@given(st.lists(st.tuples(st.sampled_from(["delete", "double", "move", "insert"]), st.integers(0, 10**6),
                          st.integers(0, 10**6)), max_size=8))
def test_edits_of_real_logs_agree_with_the_twin(edits):
    lines = list(route_logs())
    for kind, a, b in edits:
        if not lines:
            break
        i, j = a % len(lines), b % len(lines)
        if kind == "delete":
            del lines[i]
        elif kind == "double":
            lines.insert(i, lines[i])
        elif kind == "move":
            lines.insert(j, lines.pop(i))
        else:
            lines.insert(i, EXTRA[b % len(EXTRA)])
    decoders = [decoder("okx"), decoder("pump_amm")]
    events = varkel.decode_logs(lines, decoders)
    twin, out_of_step, failed_top = twin_logs(lines, decoders)
    assert [(e.name, e.data, e.program_id, e.instruction, e.inner, e.depth, e.source, e.log_index, e.truncated)
            for e in events] == [tuple(t) for t in twin]
    assert all((e.out_of_step, e.failed) == (out_of_step, failed_top) for e in events)


@settings(max_examples=100, deadline=None)
@given(st.lists(st.tuples(st.sampled_from(["delete", "double", "insert"]), st.integers(0, 10**6),
                          st.integers(0, 10**6)), min_size=1, max_size=6))
def test_edits_of_a_real_transaction_never_raise(edits):
    doc = as_json(result_of(load(ROUTE)))
    lines = doc["meta"]["logMessages"]
    for kind, a, b in edits:
        i = a % len(lines)
        if kind == "delete":
            del lines[i]
        elif kind == "double":
            lines.insert(i, lines[i])
        else:
            lines.insert(i, EXTRA[b % len(EXTRA)])
    events = varkel.decode_transaction(doc, [decoder("okx"), decoder("pump_amm")])
    # The CPI-emitted BuyEvent survives any edit of the lines; every logged
    # event points at a data line.
    assert [e.name for e in events].count("BuyEvent") >= 1
    for e in events:
        assert e.program_id in (OKX, PUMP_AMM)
        if e.log_index is not None:
            assert lines[e.log_index].startswith("Program data: ")


def test_random_walks_agree_with_the_twin():
    # Lines drawn at random from the shapes: long, deeply unbalanced logs.
    rng = random.Random(7)
    shapes = EXTRA + [swap_line(), data_line(b"\x40\xc6\xcd\xe8\x26\x08\x71\xe2")]
    okx = decoder("okx")
    for _ in range(40):
        lines = [rng.choice(shapes) for _ in range(rng.randrange(1, 400))]
        events = okx.decode_logs(lines)
        twin, out_of_step, _ = twin_logs(lines, [okx])
        assert [(e.name, e.instruction, e.inner, e.depth, e.log_index, e.truncated) for e in events] == [
            (t[0], t[3], t[4], t[5], t[7], t[8]) for t in twin]
