#!/bin/sh
# A person at the printer, played in tmux: a manual-duplex job made from a
# PDF runs on a real terminal; while the question waits, the first pass
# must be complete on disk (a well-formed document with the even pages);
# the person presses Enter and the second pass follows. Then the same with
# the report redirected to a file (the question must still reach the
# screen, and not the file), with Cancel, and with Ctrl-D.
#
#   person_at_printer.sh JOBTOOL DOCUMENT.pdf PAGES
#
# Exit 0 when all holds; 77 (skipped) without tmux, Ghostscript or the
# document.
set -eu
jobtool=$1
document=$2
pages=$3
command -v tmux >/dev/null 2>&1 || { echo "tmux is not installed (tools/setup-machine)"; exit 77; }
command -v gs >/dev/null 2>&1 || { echo "Ghostscript is not installed (tools/setup-machine)"; exit 77; }
[ -r "$document" ] || { echo "$document is not installed (tools/setup-machine)"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/person-at-printer.XXXXXX")
socket="kd-person-$$"
cleanup() {
    tmux -L "$socket" kill-server 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

fail() {
    echo "FAIL: $*"
    echo "--- screen:"
    tmux -L "$socket" capture-pane -p -t person 2>/dev/null || true
    exit 1
}

# Waits up to 60 seconds for text on the screen.
wait_for() {
    i=0
    while ! tmux -L "$socket" capture-pane -p -J -S -200 -t person | grep -qF -- "$1"; do
        i=$((i + 1))
        [ $i -lt 600 ] || fail "\"$1\" did not appear"
        sleep 0.1
    done
}

# Starts a shell line in a fresh tmux session on a terminal of 200 columns,
# on a server of its own: a new server on the socket of one just killed may
# find it still going away, and exit.
runs=0
start() {
    tmux -L "$socket" kill-server 2>/dev/null || true
    runs=$((runs + 1))
    socket="kd-person-$$-$runs"
    tmux -L "$socket" -f /dev/null new-session -d -s person -x 200 -y 60 \
        "cd '$work' && $1; echo \"EXIT=\$?\"; sleep 600"
}

"$jobtool" make "$document" --manual-duplex -o "$work/job.kdjob" >"$work/make.txt" 2>&1 ||
    { cat "$work/make.txt"; fail "make refused $document"; }
even=$((pages / 2))
odd=$(((pages + 1) / 2))

# 1. Enter at the question; the first pass is on disk while it waits.
start "'$jobtool' run job.kdjob --out out1"
wait_for "Re-insert the sheets"
wait_for "press Enter"
[ -s "$work/out1/job-1.pxl" ] || fail "the first pass is not on disk while the question waits"
[ ! -e "$work/out1/job-2.pxl" ] || fail "the second pass exists before the answer"
"$jobtool" explain "$work/out1/job-1.pxl" >"$work/explain1.txt" || fail "the first pass is not a complete document"
grep -q "well-formed PCL XL, $even pages" "$work/explain1.txt" || fail "the first pass does not hold $even pages"
tmux -L "$socket" capture-pane -p -J -S -200 -t person | grep -qF "job-1.pxl" ||
    fail "the question does not say which file to take"
if [ $((pages % 2)) = 1 ]; then
    wait_for "add one blank sheet"
fi
tmux -L "$socket" send-keys -t person Enter
wait_for "EXIT=0"
"$jobtool" explain "$work/out1/job-2.pxl" >"$work/explain2.txt" || fail "the second pass is not a complete document"
grep -q "well-formed PCL XL, $odd pages" "$work/explain2.txt" || fail "the second pass does not hold $odd pages"

# 2. The report goes to a file; the question still reaches the person.
start "'$jobtool' run job.kdjob --out out2 >report.txt 2>&1"
wait_for "Re-insert the sheets"
[ -s "$work/out2/job-1.pxl" ] || fail "the first pass is not on disk while the question waits"
tmux -L "$socket" send-keys -t person Enter
wait_for "EXIT=0"
grep -q "Re-insert the sheets" "$work/report.txt" && fail "the question went into the report file"
grep -q "job-2.pxl" "$work/report.txt" || fail "the report does not name the second document"

# 3. Cancel: the second pass is not printed, and the report says so.
start "'$jobtool' run job.kdjob --out out3"
wait_for "press Enter"
tmux -L "$socket" send-keys -t person "cancel" Enter
wait_for "EXIT=1"
[ ! -e "$work/out3/job-2.pxl" ] || fail "the second pass was written after Cancel"
wait_for "Cancel"

# 4. Ctrl-D: the input ended; taken as Cancel, with a message.
start "'$jobtool' run job.kdjob --out out4"
wait_for "press Enter"
tmux -L "$socket" send-keys -t person C-d
wait_for "EXIT=1"
wait_for "taken as Cancel"
[ ! -e "$work/out4/job-2.pxl" ] || fail "the second pass was written after the input ended"

echo "person at the printer: all steps held ($pages pages)"
