#!/bin/sh
# smoke.sh HOST_REPORT PROGRAM_REPORT COMMAND...
# kd_bench's smoke run for CTest: COMMAND (the program, or wine/run.sh with
# its prefix and the program) runs with --quick and writes its report to
# PROGRAM_REPORT (the program's own name for HOST_REPORT); then the report's
# form is checked. The figures are not: a smoke run's are too short to mean
# anything. An exit code of 77 (no Wine) passes on as a skip.
set -u
here=$(cd "$(dirname "$0")" && pwd)
host_report=$1
program_report=$2
shift 2
rm -f "$host_report"
"$@" --quick --json "$program_report"
rc=$?
if [ "$rc" != 0 ]; then
    exit "$rc"
fi
exec python3 "$here/report.py" --check "$host_report"
