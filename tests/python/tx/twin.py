"""An independent twin of event attribution, in plain Python, for differential
tests: regular expressions for the line forms, a list for the invoke stack,
parse_logs of one line as the oracle of an event's bytes and value.

`twin_logs(lines, decoders)` mirrors decode_logs over any lines, hostile ones
included. `twin_transaction(result, decoders)` mirrors decode_transaction for
transactions whose logs are in step with their instructions (the "json" and
"jsonParsed" encodings): CPI events, the self-invoke rule, duplicates and order.
"""

import base64
import re

from tx.txdata import EVENT_TAG, b58decode

ID = r"[1-9A-HJ-NP-Za-km-z]{32,44}"
INVOKE = re.compile(rf"Program ({ID}) invoke \[([1-9][0-9]{{0,9}})\]")
CLOSE = re.compile(rf"Program ({ID}) (success|failed: .*)", re.DOTALL)
CONSUMED = re.compile(rf"Program ({ID}) consumed [0-9]+ of [0-9]+ compute units")
MAX_CLOSE_SEARCH = 64
PRECOMPILES = {
    "Ed25519SigVerify111111111111111111111111111",
    "KeccakSecp256k11111111111111111111111111111",
    "Secp256r1SigVerify1111111111111111111111111",
}


class Frame:
    def __init__(self, program, depth, line, top, inner):
        self.program, self.depth, self.line, self.top, self.inner = program, depth, line, top, inner


def walk(lines):
    """Frames, candidate lines (index, frame or None, after truncation) and
    whether anything did not fit."""
    frames, candidates, stack = [], [], []
    top_count = inner_count = 0
    truncated = out_of_step = failed_top = False
    for i, line in enumerate(lines):
        m = INVOKE.fullmatch(line)
        if m and int(m[2]) < 2**32:
            program, depth = m[1], int(m[2])
            if depth == 1:
                out_of_step |= bool(stack)
                stack = []
                frame = Frame(program, 1, i, top_count, None)
                top_count, inner_count = top_count + 1, 0
            else:
                if len(stack) != depth - 1:
                    out_of_step = True
                    del stack[depth - 1:]
                top = stack[0].top if stack else None
                frame = Frame(program, depth, i, top, inner_count if top is not None else None)
                if top is not None:
                    inner_count += 1
            frames.append(frame)
            stack.append(frame)
            continue
        m = CLOSE.fullmatch(line)
        if m:
            program = m[1]
            for k in range(1, min(len(stack), MAX_CLOSE_SEARCH) + 1):
                if stack[-k].program == program:
                    if k != 1:
                        out_of_step = True
                    failed_top |= m[2].startswith("failed") and stack[-k].depth == 1
                    del stack[-k:]
                    break
            else:
                out_of_step = True
            continue
        m = CONSUMED.fullmatch(line)
        if m:
            out_of_step |= not stack or stack[-1].program != m[1]
            continue
        if line == "Log truncated":
            truncated = True
            continue
        if line.startswith("Program data: ") or line.startswith("Program log: "):
            candidates.append((i, stack[-1] if stack else None, truncated))
    out_of_step |= bool(stack)
    return frames, candidates, out_of_step, failed_top


def twin_logs(lines, decoders):
    """(name, value, program, instruction, inner, depth, source, log_index,
    truncated) per event, and the out-of-step and failed flags."""
    by_id = {d.program_id: d for d in decoders}
    frames, candidates, out_of_step, failed_top = walk(lines)
    events = []
    for i, frame, truncated in candidates:
        if frame is None or frame.program not in by_id:
            continue
        got = by_id[frame.program].parse_logs([lines[i]])
        if got:
            name, value = got[0]
            events.append((name, value, frame.program, frame.top, frame.inner if frame.depth > 1 else None,
                           frame.depth, "log", i, truncated))
    return events, out_of_step, failed_top


def _payload(line):
    text = line.split(": ", 1)[1].strip()
    return base64.b64decode(text)


def twin_transaction(result, decoders):
    """The events of an in-step "json" transaction, in the order of execution."""
    by_id = {d.program_id: d for d in decoders}
    message = result["transaction"]["message"]
    meta = result["meta"]
    if message["accountKeys"] and isinstance(message["accountKeys"][0], dict):  # "jsonParsed"
        keys = [k["pubkey"] for k in message["accountKeys"]]
    else:
        loaded = meta.get("loadedAddresses") or {"writable": [], "readonly": []}
        keys = message["accountKeys"] + loaded["writable"] + loaded["readonly"]

    def program_of(ins):
        return ins["programId"] if "programId" in ins else keys[ins["programIdIndex"]]

    programs = [program_of(i) for i in message["instructions"]]
    inner = {g["index"]: g["instructions"] for g in meta.get("innerInstructions") or []}
    lines = meta.get("logMessages") or []
    frames, candidates, _, _ = walk(lines)

    # Frames in step: the k-th top-level frame is the k-th instruction that is
    # no precompile; deeper frames are the inner instructions in order.
    runs = [i for i, p in enumerate(programs) if p not in PRECOMPILES]
    place, inner_line = {}, {}
    for f in frames:
        instruction = runs[f.top] if f.top is not None and f.top < len(runs) else None
        place[id(f)] = (instruction, f.inner)
        if f.depth > 1 and instruction is not None:
            inner_line[(instruction, f.inner)] = f.line

    events = []  # [sort key, record, payload, frame key]
    for i, frame, truncated in candidates:
        if frame is None or frame.program not in by_id:
            continue
        got = by_id[frame.program].parse_logs([lines[i]])
        if not got:
            continue
        instruction, inner_index = place[id(frame)]
        record = [got[0][0], got[0][1], frame.program, instruction, inner_index if frame.depth > 1 else None,
                  frame.depth, "log", i, truncated]
        events.append([(i, 0), record, _payload(lines[i]), (frame.program, instruction, record[4])])

    for index, items in sorted(inner.items()):
        for j, ins in enumerate(items):
            program = program_of(ins)
            if program not in by_id or "data" not in ins:
                continue
            data = b58decode(ins["data"])
            if data[:8] != EVENT_TAG:
                continue
            height = ins["stackHeight"]
            parent = None
            if height == 2:
                parent = (programs[index], None)
            else:
                for k in range(j - 1, -1, -1):
                    if items[k]["stackHeight"] == height - 1:
                        parent = (program_of(items[k]), k)
                        break
                    if items[k]["stackHeight"] < height - 1:
                        break
            if parent is None or parent[0] != program:
                continue
            got = by_id[program].parse_logs(["Program data: " + base64.b64encode(data[8:]).decode()])
            if not got:
                continue
            line = inner_line.get((index, j), -1)
            record = [got[0][0], got[0][1], program, index, j, height - 1, "cpi", None, False]
            frame_key = (program, index, parent[1])
            for other in events:
                if other[1][6] == "log" and other[3] == frame_key and other[2] == data[8:]:
                    other[1][6], other[1][4] = "log+cpi", j
                    break
            else:
                events.append([(line, 1), record, data[8:], frame_key])
    events.sort(key=lambda e: e[0])
    return [tuple(e[1]) for e in events]
