#!/usr/bin/env bash
# Sets up everything (scripts/setup.sh), then decodes the bundled sample logs
# and transactions.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
set -x
.venv/bin/python -m varkel --version
.venv/bin/python -m varkel --idl examples/okx-dex/idl.json examples/okx-dex/swap.log
.venv/bin/python -m varkel --idl examples/pump-legacy/idl.json examples/pump-legacy/trades.log
# Whole transactions and log lines, both programs in one pass, with the summary line.
.venv/bin/python -m varkel --idl examples/okx-dex/idl.json --idl examples/pump-legacy/idl.json --stats \
  examples/pump-legacy/transactions.jsonl examples/okx-dex/swap.log
